// The sandbox dashboard: polls the control API and renders what changed.
"use strict";

const $ = (id) => document.getElementById(id);
const units = (hundredths) => (Number(hundredths) / 100).toFixed(2);
// ISO-8601 in UTC, to the second, as the till prints its times: the full time is the title.
const time = (iso) => (iso ? String(iso).replace(/\.\d+Z$/, "Z") : "");
const short = (id) => (id && id.length > 13 ? id.slice(0, 8) + "…" : id || "");
const seen = {};
const expanded = new Set(); // sequence numbers of the requests shown with their bodies
let basePath = "";
let timelineId = "";
let allPayments = [];

function cell(text, className) {
  const td = document.createElement("td");
  td.textContent = text === undefined || text === null ? "" : String(text);
  if (className) td.className = className;
  return td;
}

function fill(tableId, emptyId, rows, makeRow) {
  const body = $(tableId).tBodies[0];
  body.replaceChildren(...rows.flatMap((row) => [].concat(makeRow(row))));
  $(emptyId).textContent = $(emptyId).dataset.empty || $(emptyId).textContent;
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

// Only web addresses become links: a "javascript:" or "data:" URL stays text.
function webLink(url, text) {
  let parsed;
  try {
    parsed = new URL(url);
  } catch (error) {
    return null;
  }
  if (parsed.protocol !== "http:" && parsed.protocol !== "https:") return null;
  const a = document.createElement("a");
  a.href = parsed.href;
  a.textContent = text;
  a.target = "_blank";
  a.rel = "noopener noreferrer";
  return a;
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
  if (p.answer_lost) {
    const mark = document.createElement("span");
    mark.className = "mark answer-lost";
    mark.textContent = "no answer";
    mark.title = "A request that created or changed this payment was carried out, and its " +
      "answer never reached the till (lost, reset or a 5xx)";
    statusCell.append(mark);
  }
  const link = cell("");
  const receipt = p.fiscal_url ? webLink(p.fiscal_url, "receipt") : null;
  if (receipt) link.append(receipt);
  else link.textContent = p.fiscal_url || "—";
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
  const id = cell(p.payment_id, "link");
  id.dataset.timeline = p.payment_id;
  id.title = "Every request about this payment";
  const transaction = cell(short(p.transaction_id));
  transaction.title = p.transaction_id;
  const created = cell(time(p.created));
  created.title = p.created || "";
  tr.append(id, transaction, cell(units(p.amount), "num"), cell(p.currency, "num"),
    cell(units(p.refunded), "num"), cell(units(p.rest), "num"), statusCell,
    cell(p.polls, "num"), cell(p.scenario), link, created, customer);
  return tr;
}

function shortPath(path) {
  return path.startsWith(basePath + "/") ? path.slice(basePath.length) : path;
}

function statusCell(r) {
  const status = r.http_status === 0 ? "lost" : r.http_status;
  const statusClass = r.http_status === 0 ? "http-lost" : r.http_status < 400 ? "http-ok" : "http-bad";
  return cell(status, "num " + statusClass);
}

function bodiesRow(r) {
  const tr = document.createElement("tr");
  tr.className = "bodies";
  const td = cell("");
  td.colSpan = 7;
  const part = (title, text) => {
    const h = document.createElement("h3");
    h.textContent = title;
    const pre = document.createElement("pre");
    pre.textContent = text || "(none)";
    td.append(h, pre);
  };
  part("Request", (r.authorization ? "Authorization: " + r.authorization + "\n" : "") + r.body);
  part("Response", r.http_status === 0 ? "(the connection closed without an answer)" : r.response);
  tr.append(td);
  return tr;
}

function requestRow(r) {
  const tr = document.createElement("tr");
  tr.className = "request" + (expanded.has(r.sequence) ? " open" : "");
  tr.dataset.sequence = r.sequence;
  tr.append(cell(time(r.time)), cell(r.method + " " + shortPath(r.path)), statusCell(r),
    cell(r.duration_ms, "num"), cell(r.error_code || "", "num"), cell(r.payment_id), cell(r.fault));
  return expanded.has(r.sequence) ? [tr, bodiesRow(r)] : tr;
}

function timelineRow(r) {
  const tr = document.createElement("tr");
  tr.append(cell(time(r.time)), cell(r.method + " " + shortPath(r.path)), statusCell(r),
    cell(r.duration_ms, "num"), cell(r.error_code || "", "num"), cell(r.fault));
  return tr;
}

// The payments a search names: by payment id or transaction id (any part), or by amount.
function matching(payments) {
  const query = $("search").value.trim().toLowerCase();
  if (!query) return payments;
  return payments.filter((p) => String(p.payment_id).includes(query) ||
    String(p.transaction_id).toLowerCase().includes(query) ||
    units(p.amount) === Number(query.replace(",", ".")).toFixed(2));
}

function showPayments() {
  const shown = matching(allPayments);
  fill("ledger", "ledger-empty", shown, paymentRow);
  $("payment-count").textContent = !allPayments.length ? ""
    : shown.length === allPayments.length ? "(" + allPayments.length + ")"
      : "(" + shown.length + " of " + allPayments.length + ")";
}

function faultRow(f) {
  const tr = document.createElement("tr");
  tr.append(cell(f.operation), cell(f.fault), cell(f.after, "num"),
    cell(f.count === -1 ? "every" : f.count, "num"));
  return tr;
}

async function showTimeline() {
  if (!timelineId) return;
  const answer = await call("GET", "payments/" + encodeURIComponent(timelineId) + "/timeline");
  const p = answer.payment;
  $("timeline-id").textContent = p.payment_id;
  $("timeline-summary").textContent = `${p.payment_status}, ${units(p.amount)}, created ${time(p.created)}`;
  fill("timeline-requests", "timeline-empty", answer.requests, timelineRow);
  $("timeline").hidden = false;
}

let last = {};
let latestRequests = [];
async function refresh() {
  try {
    const [ledger, faults, requests] = await Promise.all([
      call("GET", "ledger"), call("GET", "faults"), call("GET", "requests")]);
    const payments = ledger.payments.slice().reverse();
    const now = { payments: JSON.stringify(payments), faults: JSON.stringify(faults.faults),
      requests: JSON.stringify(requests.requests) };
    if (now.payments !== last.payments) {
      allPayments = payments;
      showPayments();
    }
    if (now.faults !== last.faults) fill("faults", "faults-empty", faults.faults, faultRow);
    latestRequests = requests.requests;
    if (now.requests !== last.requests) fill("requests", "requests-empty", latestRequests, requestRow);
    if (now.payments !== last.payments || now.requests !== last.requests) {
      await showTimeline().catch(() => ($("timeline").hidden = true));
    }
    last = now;
    $("live").classList.remove("stale");
  } catch (error) {
    $("live").classList.add("stale");
  }
}

function configBlock(config) {
  return ["[OxlenPay]",
    "host = " + window.location.origin,
    "path = " + config.basePath,
    "merchantId = " + config.cashboxCode,
    "merchantServiceId = " + config.serviceId,
    "merchantServiceUserId = " + config.userId,
    "merchantSecretKey = " + config.secretKey, ""].join("\n");
}

async function copyConfig() {
  const block = $("config-block");
  try {
    await navigator.clipboard.writeText(block.value);
  } catch (error) {
    // Without the clipboard API (a page the browser does not trust), copy the selection.
    block.hidden = false;
    block.select();
    if (!document.execCommand("copy")) {
      $("copy-message").textContent = "Select the settings below and copy them.";
      return;
    }
    block.hidden = true;
  }
  $("copy-message").textContent = "[OxlenPay] settings copied.";
}

async function showReference() {
  const reference = await call("GET", "reference");
  const row = (name, effect) => {
    const tr = document.createElement("tr");
    const code = document.createElement("code");
    code.textContent = name;
    const first = cell("");
    first.append(code);
    tr.append(first, cell(effect));
    return tr;
  };
  $("reference-tokens").tBodies[0].replaceChildren(...reference.tokens.map((t) => row(t.token, t.effect)));
  $("reference-faults").tBodies[0].replaceChildren(...reference.faults.map((f) => row(f.fault, f.effect)));
  $("reference").hidden = false;
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
  $("config-block").value = configBlock(config);
  for (const name of config.operations) $("fault-operation").add(new Option(name, name));
  for (const name of config.faults) $("fault-name").add(new Option(name, name));

  $("ledger").addEventListener("click", async (event) => {
    const idCell = event.target.closest("td[data-timeline]");
    if (idCell) {
      timelineId = idCell.dataset.timeline;
      showTimeline().catch(() => {});
      return;
    }
    const button = event.target.closest("button[data-action]");
    if (!button) return;
    button.disabled = true;
    await call("POST", "payments/" + button.dataset.paymentId + "/" + button.dataset.action)
      .catch(() => {});
    refresh();
  });
  $("requests").addEventListener("click", (event) => {
    const row = event.target.closest("tr.request");
    if (!row) return;
    const sequence = Number(row.dataset.sequence);
    if (!expanded.delete(sequence)) expanded.add(sequence);
    fill("requests", "requests-empty", latestRequests, requestRow);
  });
  for (const button of document.querySelectorAll("button[data-close]")) {
    button.addEventListener("click", () => {
      $(button.dataset.close).hidden = true;
      if (button.dataset.close === "timeline") timelineId = "";
    });
  }
  $("open-reference").addEventListener("click", () => showReference().catch(() => {}));
  $("search").addEventListener("input", showPayments);
  $("copy-config").addEventListener("click", copyConfig);
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
    if (confirm("Empty the ledger, the faults and the counters?")) {
      expanded.clear();
      call("POST", "reset").then(refresh);
    }
  });
  refresh();
  setInterval(refresh, 500);
}

start();
