// The client as a web page loads it: headless Chromium, trusting the connector's certificate through the
// trust step, opens a page of http://localhost that imports the module, prints and previews.

import assert from "node:assert/strict";
import { execFile, execFileSync } from "node:child_process";
import { once } from "node:events";
import { mkdtempSync, readFileSync, rmSync } from "node:fs";
import { createServer } from "node:http";
import { tmpdir } from "node:os";
import { dirname, join, normalize } from "node:path";
import { test } from "node:test";
import { fileURLToPath } from "node:url";
import { promisify } from "node:util";
import { QuorvaLink } from "../../clients/js/src/index.js";
import { newJob, waitFor } from "./rig.mjs";

const env = process.env;
const run = promisify(execFile);
const root = join(dirname(fileURLToPath(import.meta.url)), "..", "..");
const which = (program) => { try { return execFileSync("sh", ["-c", `command -v ${program}`], { encoding: "utf8" }).trim(); } catch { return ""; } };
const chromium = which("chromium") || which("chromium-browser");
const missing = !chromium ? "chromium is not installed (Debian package chromium)" : !which("certutil") ? "certutil is not installed (Debian package libnss3-tools)" : "";
if (missing && env.CI === "true")
    throw new Error(missing);

const page = (printer) => `<!doctype html><html><body><pre id="out">waiting</pre><script type="module">
import { QuorvaLink, receipt } from "/clients/js/src/index.js";
const base = ${JSON.stringify(env.QLK_JS_BASE)};
const link = new QuorvaLink({ key: ${JSON.stringify(env.QLK_JS_KEY)}, baseUrl: base });
const out = {};
try {
    if (${JSON.stringify(printer)})
        out.printed = await link.print(${JSON.stringify(printer)}, receipt().align("center").line("Impresso no navegador").cut());
    const png = await link.preview(receipt().line("Pré-visualização").qrcode({ text: "QLK" }));
    const bytes = new Uint8Array(await png.arrayBuffer());
    out.preview = { blob: png instanceof Blob, type: png.type, signature: Array.from(bytes.slice(0, 8)), size: bytes.length };
    await new QuorvaLink({ key: "k", baseUrl: "https://localhost:1" }).status().catch((e) => { out.unreachable = [e.name, e.message]; });
    const wrong = new QuorvaLink({ key: "wrong", baseUrl: base });
    await wrong.status().catch((e) => { out.wrongKey = [e.name, e.httpStatus, e.text]; });
    // Shut out for wrong keys: how long is readable from the page.
    for (let i = 0; i < 25 && !out.lockout; i++)
        await wrong.status().catch((e) => { if (e.httpStatus === 429) out.lockout = [e.name, e.retryAfter]; });
} catch (error) {
    out.error = error.name + ": " + error.message;
}
document.getElementById("out").textContent = JSON.stringify(out);
</script></body></html>`;

// http://localhost:PORT on both loopback families: the page, and the module's files.
async function pageServer(html) {
    const handler = (req, res) => {
        const path = new URL(req.url, "http://localhost").pathname;
        const file = normalize(join(root, path));
        if (path === "/page.html")
            return res.writeHead(200, { "Content-Type": "text/html; charset=utf-8" }).end(html);
        if (path.endsWith(".js") && file.startsWith(join(root, "clients/js/src/")))
            try {
                return res.writeHead(200, { "Content-Type": "text/javascript; charset=utf-8" }).end(readFileSync(file));
            } catch {} // as not found
        res.writeHead(404).end();
    };
    const v4 = createServer(handler).listen(0, "127.0.0.1");
    await once(v4, "listening");
    const v6 = createServer(handler).listen(v4.address().port, "::1");
    await Promise.race([once(v6, "listening"), once(v6, "error")]);
    return { port: v4.address().port, close: () => (v4.close(), v6.close()) };
}

test("a page of http://localhost prints and previews through the module", { skip: missing || false }, async (t) => {
    const home = mkdtempSync(join(tmpdir(), "qlk-js-browser-"));
    const server = await pageServer(page(env.QLK_JS_PRINTER));
    t.after(async () => {
        // The lockout the page provoked ends before the next test's requests.
        const link = new QuorvaLink({ key: env.QLK_JS_KEY, baseUrl: env.QLK_JS_BASE });
        await waitFor(async () => (await link.status()) === "Device online", 20000, "the wrong-key window to end");
        server.close();
        rmSync(home, { recursive: true, force: true });
    });
    // The trust step, as the user runs it, into this browser's certificate database.
    execFileSync(env.QLK_PROGRAM, ["--trust-certificate"], { env: { ...env, HOME: home, XDG_CONFIG_HOME: env.QLK_JS_CONFIG, QT_QPA_PLATFORM: "offscreen" }, stdio: "pipe" });
    const job = env.QLK_JS_PRINTER && newJob();

    // The document as the page left it, after its scripts ran.
    const { stdout, stderr } = await run(chromium, ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
        "--disable-component-update", "--disable-sync", `--user-data-dir=${join(home, "profile")}`, "--virtual-time-budget=15000", "--enable-logging=stderr", "--dump-dom",
        `http://localhost:${server.port}/page.html`], { env: { ...env, HOME: home }, timeout: 90000, killSignal: "SIGKILL", maxBuffer: 1 << 26 }).catch((error) => error);
    const text = /<pre id="out">([^<]*)<\/pre>/.exec(stdout)?.[1]?.replaceAll("&quot;", '"') ?? "";
    const seen = (() => { try { return JSON.parse(text); } catch {} })();
    assert.ok(seen, `the page left ${JSON.stringify(text)}; chromium said: ${String(stderr).slice(-2000)}`);
    assert.equal(seen.error, undefined);
    assert.deepEqual([seen.preview.blob, seen.preview.type, seen.preview.signature], [true, "image/png", [137, 80, 78, 71, 13, 10, 26, 10]]);
    assert.ok(seen.preview.size > 500, `a PNG of ${seen.preview.size} bytes`);
    assert.deepEqual(seen.wrongKey, ["UnauthorizedError", 401, "Invalid security key"]);
    assert.equal(seen.lockout?.[0], "TooManyAttemptsError");
    assert.ok(seen.lockout[1] >= 1 && seen.lockout[1] <= 10, `Retry-After as the page reads it: ${seen.lockout[1]}`);
    assert.equal(seen.unreachable?.[0], "NotReachableError");
    assert.ok(seen.unreachable[1].includes(`pages of http://localhost:${server.port}`), seen.unreachable[1]);
    if (!job)
        return t.diagnostic(`printing not checked: ${env.QLK_JS_NO_PRINTER}`);
    assert.equal(seen.printed, "Job completed successfully");
    const printed = await job();
    assert.ok(printed.includes(Buffer.from("Impresso no navegador\n")), printed.toString("latin1"));
});
