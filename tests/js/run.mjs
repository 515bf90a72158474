// Starts the connector with a capture printer and simulated terminals, then
// runs the JavaScript test files against it with Node's test runner. The
// connector's certificate is made before the tests start, so that their fetch
// trusts it (NODE_EXTRA_CA_CERTS is read at start only).
//   node run.mjs [FILE.test.mjs...]    QLK_PROGRAM, QLK_SIMULATOR: the programs under test

import { spawn } from "node:child_process";
import { once } from "node:events";
import { existsSync, mkdtempSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";
import { CapturePrinter, cupsProblem, freePort, startProgram, startSimulator, stop, waitFor, writeSettings } from "./rig.mjs";

const here = dirname(fileURLToPath(import.meta.url));
const program = process.env.QLK_PROGRAM;
const simulator = process.env.QLK_SIMULATOR;
if (!program || !existsSync(program) || !simulator || !existsSync(simulator)) {
    console.error("run.mjs: QLK_PROGRAM and QLK_SIMULATOR must name the built quorva-link and tpa-simulator");
    process.exit(2);
}

if (!existsSync(join(here, "node_modules", "ajv"))) {
    console.error("run.mjs: the test tools are not installed in tests/js/node_modules; run scripts/bootstrap (npm ci there)");
    process.exit(2);
}

const temp = mkdtempSync(join(tmpdir(), "qlk-js-"));
const key = "JsKit7f3av4.0"; // ends in the version suffix, so the connector takes it as it is
const terminals = {
    // name: [family, outcomes, step ms, USB ids]
    ING: [1, "approve", 50, "0B00:0060"],
    NEW: [2, "approve", 50, "0403:6001"],
    ING_DECLINE: [1, "decline", 50, "0B00:0060"],
    NEW_DECLINE: [2, "decline", 50, "0403:6001"],
    SLOW: [2, "approve", 400, "0403:6001"],
    TIMEOUT: [1, "timeout", 50, "0B00:0060"],
    GONE: [1, "approve", 50, "0B00:0060"],
    WALK: [1, "approve", 50, "0B00:0060"],
};
const children = [];
let printer = null;
let connector = null;
let code = 1;
try {
    const captureDir = join(temp, "captured");
    const problem = cupsProblem();
    if (!problem)
        printer = await CapturePrinter.start(captureDir);
    else if (process.env.CI === "true")
        throw new Error(problem);

    const env = { QLK_JS_KEY: key, QLK_JS_CAPTURE: captureDir, QLK_JS_PRINTER: printer?.name ?? "", QLK_JS_NO_PRINTER: problem };
    const simulated = [];
    for (const [name, [family, outcomes, stepMs, ids]] of Object.entries(terminals)) {
        const link = join(temp, `tty${name}`);
        children.push(await startSimulator(simulator, family, link, outcomes, stepMs));
        simulated.push(`${link}=${ids}`);
        env[`QLK_JS_TPA_${name}`] = link;
    }

    const configHome = join(temp, "config");
    const certificate = writeSettings(configHome, key, printer ? [printer.name] : []);
    const port = await freePort();
    const log = join(temp, "connector.log");
    connector = startProgram(program, configHome, port, simulated.join(","), log);
    await waitFor(() => existsSync(certificate), 20000, "the connector's certificate");
    const base = `https://localhost:${port}`;
    Object.assign(env, { QLK_JS_BASE: base, QLK_JS_PORT: String(port), QLK_JS_PID: String(connector.pid), QLK_JS_CONFIG: configHome, NODE_EXTRA_CA_CERTS: certificate });

    // Ready once it serves, lists the terminals and (with a scheduler) the printer.
    const tests = spawn(process.execPath, [process.env.QLK_JS_READY ?? join(here, "ready.mjs")], { env: { ...process.env, ...env }, stdio: "inherit" });
    const [readyCode] = await once(tests, "exit");
    if (readyCode !== 0)
        throw new Error("the connector did not get ready");

    const files = process.argv.length > 2 ? process.argv.slice(2) : ["openapi.test.mjs", "browser.test.mjs", "client.test.mjs"];
    const runner = spawn(process.execPath, ["--test", "--test-concurrency=1", ...files.map((f) => join(here, f))], {
        env: { ...process.env, ...env },
        stdio: "inherit",
    });
    [code] = await once(runner, "exit");
    const clean = await stop(connector);
    connector = null;
    if (!clean) {
        console.error("run.mjs: the connector did not end cleanly on SIGTERM");
        code = 1;
    }
    if (code !== 0)
        console.error(`run.mjs: the connector's log:\n${readFileSync(log, "utf8").split("\n").slice(-200).join("\n")}`);
} catch (error) {
    console.error(`run.mjs: ${error.stack ?? error}`);
    if (connector && existsSync(join(temp, "connector.log")))
        console.error(`run.mjs: the connector's log:\n${readFileSync(join(temp, "connector.log"), "utf8").split("\n").filter((line) => !line.startsWith("HttpConnectionHandler")).slice(-80).join("\n")}`);
    code = 1;
} finally {
    if (connector)
        await stop(connector);
    for (const child of children)
        await stop(child);
    printer?.stop();
    rmSync(temp, { recursive: true, force: true });
}
process.exit(code);
