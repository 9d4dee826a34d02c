// The sandbox dashboard in a real browser: a till sale waits on a "pending" token,
// the customer's approve button is clicked on the dashboard, and the till must end
// APPROVED. Leaves screenshots of the dashboard beside the test's build files.
//   node dashboard_test.mjs SANDBOX TILL MODULES_DIR OUTPUT_DIR
import { spawn } from "node:child_process";
import { createHash } from "node:crypto";
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { request as httpsRequest } from "node:https";
import { createRequire } from "node:module";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";
import { once } from "node:events";

const [sandboxPath, tillPath, modulesDir, outputDir] = process.argv.slice(2);
const { chromium } = createRequire(resolve(modulesDir, "package.json"))("playwright-core");
const work = mkdtempSync(join(tmpdir(), "oxlenpay-dashboard-"));
const children = [];
let browser;

function fail(message) {
  throw new Error(message);
}

async function startSandbox() {
  const sandbox = spawn(sandboxPath, ["--port", "0", "--cert-out", join(work, "sandbox.pem")],
    { stdio: ["ignore", "pipe", "pipe"] });
  children.push(sandbox);
  sandbox.stderr.on("data", () => {}); // its request lines
  let output = "";
  for await (const chunk of sandbox.stdout) {
    output += chunk;
    if (output.includes("\n")) break;
  }
  const baseUrl = new URL(output.split("\n")[0].trim());
  if (!baseUrl.port) fail("the sandbox printed no base URL: " + output);
  return baseUrl;
}

function runTill(baseUrl, args) {
  const config = join(work, "till.conf");
  writeFileSync(config, `[OxlenPay]
host = ${baseUrl.origin}
path = ${baseUrl.pathname}
merchantId = till-01
merchantServiceId = 5001
merchantServiceUserId = merchant-user
merchantSecretKey = sandbox-secret
frequency = 200
payDuration = 60000
timeout = 5000
journal = ${join(work, "journal.sqlite")}
`);
  const till = spawn(tillPath, ["--config", config, "--ca-file", join(work, "sandbox.pem"),
    "--json", "--quiet", ...args], { stdio: ["ignore", "pipe", "pipe"] });
  children.push(till);
  let out = "";
  till.stdout.on("data", (chunk) => (out += chunk));
  till.stderr.on("data", (chunk) => process.stderr.write(chunk));
  return once(till, "exit").then(([code]) => ({ code, out }));
}

// One merchant request signed as the plug-in signs it.
function postSigned(baseUrl, path, body) {
  const timestamp = String(Date.now());
  const digest = createHash("sha1").update(timestamp + "sandbox-secret").digest("hex");
  const payload = JSON.stringify(body);
  return new Promise((resolvePost, rejectPost) => {
    const request = httpsRequest(new URL(baseUrl.pathname.replace(/\/$/, "") + path, baseUrl), {
      method: "POST",
      ca: readFileSync(join(work, "sandbox.pem")),
      headers: { "Content-Type": "application/json", Accept: "application/json",
        Authorization: `merchant-user:${digest}:${timestamp}`,
        "Content-Length": Buffer.byteLength(payload) },
    }, (response) => {
      let text = "";
      response.on("data", (chunk) => (text += chunk));
      response.on("end", () => resolvePost({ status: response.statusCode, body: text }));
    });
    request.on("error", rejectPost);
    request.end(payload);
  });
}

async function main() {
  const baseUrl = await startSandbox();
  browser = await chromium.launch({ executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    args: ["--no-sandbox"] });
  // A till's screen: at 1280 x 800 nothing may be clipped and every button must be in view.
  const viewport = { width: 1280, height: 800 };
  const page = await browser.newPage({ ignoreHTTPSErrors: true, viewport });
  await page.goto(baseUrl.origin + "/_sandbox/");
  await page.locator("#base-path", { hasText: baseUrl.pathname }).waitFor({ timeout: 10000 });

  const sale = runTill(baseUrl, ["sale", "--amount", "12.34", "--token", "pending-browser"]);
  const approve = page.locator('button[data-action="approve"]');
  await approve.first().waitFor({ timeout: 20000 });
  const paymentId = await approve.first().getAttribute("data-payment-id");
  const row = page.locator("#ledger tbody tr", { hasText: paymentId });
  await row.locator(".badge", { hasText: "PENDING" }).waitFor();
  if (!(await row.textContent()).includes("12.34")) fail("the ledger row shows no 12.34");
  const cells = await row.locator("td").allTextContents();
  if (!cells.includes("398")) fail("no currency column: " + cells.join(" | "));
  if (!cells.some((text) => /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$/.test(text))) {
    fail("no ISO-8601 time in the row: " + cells.join(" | "));
  }
  // The widest the ledger gets: a pending row with both customer buttons.
  await page.locator("#requests tbody tr").first().waitFor();
  const layout = await page.evaluate(() => {
    const outside = [...document.querySelectorAll("button")]
      .filter((b) => b.offsetParent !== null)
      .map((b) => ({ text: b.textContent, box: b.getBoundingClientRect() }))
      .filter(({ box }) => box.left < 0 || box.right > window.innerWidth)
      .map(({ text, box }) => `${text} ${Math.round(box.left)}..${Math.round(box.right)}`);
    const clipped = [...document.querySelectorAll("table")]
      .filter((t) => t.offsetParent !== null && t.scrollWidth > t.parentElement.clientWidth)
      .map((t) => t.id);
    return { outside, clipped, page: document.documentElement.scrollWidth > window.innerWidth };
  });
  if (layout.outside.length) fail("buttons outside the 1280 px viewport: " + layout.outside.join(", "));
  if (layout.clipped.length || layout.page) {
    fail("tables wider than the 1280 x 800 page: " + layout.clipped.join(", "));
  }
  await page.screenshot({ path: join(outputDir, "dashboard-1280x800.png") });

  await page.locator(`button[data-action="approve"][data-payment-id="${paymentId}"]`).click();
  const { code, out } = await Promise.race([sale, new Promise((_, reject) =>
    setTimeout(() => reject(new Error("the till did not end within 30 s")), 30000).unref())]);
  const answer = JSON.parse(out);
  if (code !== 0 || answer.outcome !== "approved") {
    fail(`the till ended ${code} ${answer.outcome}, not approved: ${out}`);
  }
  if (answer.rrn !== paymentId) fail(`the till approved ${answer.rrn}, the dashboard ${paymentId}`);
  // Live: the row turns SUCCESS without a reload, and the polls show in the request log.
  await row.locator(".badge", { hasText: "SUCCESS" }).waitFor({ timeout: 5000 });
  await page.locator("#requests tbody tr", { hasText: "/payment/status" }).first().waitFor();

  // A fiscal link that is no web address stays text. The till refuses such a link, but a
  // host's plug-in forwards what it is given: sent here as a host's would be.
  const fiscal = await postSigned(baseUrl, "/payment/fiscal",
    { payment_id: paymentId, fiscal_url: "javascript:alert(1)" });
  if (fiscal.status !== 200) fail("the fiscal link was refused: " + fiscal.status + " " + fiscal.body);
  await row.locator("td", { hasText: "javascript:alert(1)" }).waitFor({ timeout: 5000 });
  if ((await row.locator("a").count()) !== 0) fail("a javascript: fiscal URL became a link");

  // Each request's duration; a search by payment id, by transaction part and by amount.
  const duration = await page.locator("#requests tbody tr.request td").nth(3).textContent();
  if (!/^\d+$/.test(duration)) fail("no duration in the request log: " + duration);
  const lost = await runTill(baseUrl, ["sale", "--amount", "7.00", "--token", "lost-browser"]);
  if (lost.code !== 4) fail("a sale whose answer was lost ended " + lost.code);
  await page.locator("#ledger .answer-lost").first().waitFor({ timeout: 5000 });
  const search = async (text, rows) => {
    await page.locator("#search").fill(text);
    await page.waitForFunction((n) => document.querySelectorAll("#ledger tbody tr").length === n &&
      !document.querySelector("#ledger").hidden === (n > 0), rows, { timeout: 5000 });
  };
  await search(paymentId, 1);
  await search("7.00", 1);
  await search("99.99", 0);
  await search("", 2);

  // A request row opens to its bodies, with the token masked.
  await page.locator("#requests tr.request", { hasText: "POST /payment" }).last().click();
  const bodies = page.locator("#requests tr.bodies").first();
  await bodies.waitFor();
  const shown = await bodies.textContent();
  if (!shown.includes('"otp_data":"***"') || !shown.includes(paymentId) || shown.includes("pending-browser")) {
    fail("the expanded request shows no masked request and its answer: " + shown);
  }
  // The payment's timeline: its sale and its polls.
  await row.locator("td[data-timeline]").click();
  await page.locator("#timeline-id", { hasText: paymentId }).waitFor();
  await page.locator("#timeline-requests tbody tr", { hasText: "/payment/status" }).first().waitFor();
  // The reference comes from the sandbox's own tables.
  await page.locator("#open-reference").click();
  await page.locator("#reference-tokens tbody tr", { hasText: "settle-on-reversal" }).waitFor();
  await page.locator("#reference-faults tbody tr", { hasText: "gateway" }).waitFor();
  await page.screenshot({ path: join(outputDir, "dashboard.png"), fullPage: true });
  console.log(`approved ${paymentId} on the dashboard; screenshots in ${outputDir}`);
}

try {
  await main();
} catch (error) {
  console.error(error.stack || String(error));
  process.exitCode = 1;
} finally {
  await browser?.close();
  for (const child of children) child.kill("SIGKILL");
  rmSync(work, { recursive: true, force: true });
}
