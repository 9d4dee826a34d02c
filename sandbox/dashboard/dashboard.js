// The sandbox dashboard: polls the control API and renders what changed.
"use strict";

const $ = (id) => document.getElementById(id);
const units = (hundredths) => (Number(hundredths) / 100).toFixed(2);
const time = (iso) => (iso ? new Date(iso).toLocaleTimeString() : "");
const seen = {};
let basePath = "";

function cell(text, className) {
  const td = document.createElement("td");
  td.textContent = text === undefined || text === null ? "" : String(text);
  if (className) td.className = className;
  return td;
}

function fill(tableId, emptyId, rows, makeRow) {
  const body = $(tableId).tBodies[0];
  body.replaceChildren(...rows.map(makeRow));
  $(emptyId).hidden = rows.length > 0;
  $(tableId).hidden = rows.length === 0;
}

async function call(method, path, body) {
  const response = await fetch("/_sandbox/" + path, {
    method,
    headers: body ? { "Content-Type": "application/json" } : {},
    body: body ? JSON.stringify(body) : undefined,
  });
  const answer = await response.json().catch(() => ({}));
  if (!response.ok) throw new Error(answer.error_message || response.statusText);
  return answer;
}

function paymentRow(p) {
  const tr = document.createElement("tr");
  if (!seen[p.payment_id]) tr.className = "fresh";
  seen[p.payment_id] = true;
  const status = document.createElement("span");
  status.className = "badge " + p.payment_status;
  status.textContent = p.payment_status;
  const statusCell = cell("");
  statusCell.append(status);
  const link = cell("");
  if (p.fiscal_url) {
    const a = document.createElement("a");
    a.href = p.fiscal_url;
    a.textContent = "receipt";
    a.target = "_blank";
    link.append(a);
  } else {
    link.textContent = "—";
  }
  const customer = cell("");
  if (p.payment_status === "PENDING") {
    for (const action of ["approve", "decline"]) {
      const button = document.createElement("button");
      button.type = "button";
      button.dataset.action = action;
      button.dataset.paymentId = p.payment_id;
      button.textContent = action === "approve" ? "Approve" : "Decline";
      customer.append(button);
    }
  }
  tr.append(cell(p.payment_id), cell(p.transaction_id), cell(units(p.amount), "num"),
    cell(units(p.refunded), "num"), cell(units(p.rest), "num"), statusCell,
    cell(p.polls, "num"), cell(p.scenario), link, cell(time(p.created)), customer);
  return tr;
}

function requestRow(r) {
  const tr = document.createElement("tr");
  const status = r.http_status === 0 ? "lost" : r.http_status;
  const statusClass = r.http_status === 0 ? "http-lost" : r.http_status < 400 ? "http-ok" : "http-bad";
  const path = r.path.startsWith(basePath + "/") ? r.path.slice(basePath.length) : r.path;
  tr.append(cell(time(r.time)), cell(r.method + " " + path), cell(status, "num " + statusClass),
    cell(r.error_code || "", "num"), cell(r.payment_id), cell(r.fault));
  tr.title = (r.authorization ? "Authorization: " + r.authorization + "\n" : "") + r.body;
  return tr;
}

function faultRow(f) {
  const tr = document.createElement("tr");
  tr.append(cell(f.operation), cell(f.fault), cell(f.after, "num"),
    cell(f.count === -1 ? "every" : f.count, "num"));
  return tr;
}

let last = {};
async function refresh() {
  try {
    const [ledger, faults, requests] = await Promise.all([
      call("GET", "ledger"), call("GET", "faults"), call("GET", "requests")]);
    const payments = ledger.payments.slice().reverse();
    const now = { payments: JSON.stringify(payments), faults: JSON.stringify(faults.faults),
      requests: JSON.stringify(requests.requests) };
    if (now.payments !== last.payments) {
      fill("ledger", "ledger-empty", payments, paymentRow);
      $("payment-count").textContent = payments.length ? "(" + payments.length + ")" : "";
    }
    if (now.faults !== last.faults) fill("faults", "faults-empty", faults.faults, faultRow);
    if (now.requests !== last.requests) fill("requests", "requests-empty", requests.requests, requestRow);
    last = now;
    $("live").classList.remove("stale");
  } catch (error) {
    $("live").classList.add("stale");
  }
}

async function start() {
  const config = await call("GET", "config");
  $("origin").textContent = window.location.origin;
  $("base-path").textContent = config.basePath;
  basePath = config.basePath.replace(/\/+$/, "");
  $("service-id").textContent = config.serviceId;
  $("cashbox").textContent = config.cashboxCode;
  $("user-id").textContent = config.userId;
  $("secret").textContent = config.secretKey;
  for (const name of config.operations) $("fault-operation").add(new Option(name, name));
  for (const name of config.faults) $("fault-name").add(new Option(name, name));

  $("ledger").addEventListener("click", async (event) => {
    const button = event.target.closest("button[data-action]");
    if (!button) return;
    button.disabled = true;
    await call("POST", "payments/" + button.dataset.paymentId + "/" + button.dataset.action)
      .catch(() => {});
    refresh();
  });
  $("fault-form").addEventListener("submit", async (event) => {
    event.preventDefault();
    const form = new FormData(event.target);
    try {
      const answer = await call("POST", "faults", {
        operation: form.get("operation"), fault: form.get("fault"),
        count: Number(form.get("count")), after: Number(form.get("after")) });
      $("fault-message").textContent = "Queued; pending for that operation: " +
        (answer.queued === -1 ? "every request" : answer.queued) + ".";
    } catch (error) {
      $("fault-message").textContent = error.message;
    }
    refresh();
  });
  $("clear-faults").addEventListener("click", () => call("DELETE", "faults").then(refresh));
  $("reset").addEventListener("click", () => {
    if (confirm("Empty the ledger, the faults and the counters?")) call("POST", "reset").then(refresh);
  });
  refresh();
  setInterval(refresh, 500);
}

start();
