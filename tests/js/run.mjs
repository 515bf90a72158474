// Starts the connector (headless, settings and port of its own) with a raw CUPS queue whose jobs land in files and
// terminal simulators on pseudo-terminals, then runs the given test files against it with Node's test runner.
// The certificate is made before the tests start: their fetch trusts it (NODE_EXTRA_CA_CERTS is read at start only).
//   node run.mjs [FILE.test.mjs...]    QLK_PROGRAM, QLK_SIMULATOR: the programs under test
import { execFileSync, spawn } from "node:child_process";
import { createHash } from "node:crypto";
import { once } from "node:events";
import { closeSync, existsSync, mkdirSync, mkdtempSync, openSync, readFileSync, renameSync, rmSync, writeFileSync } from "node:fs";
import { createServer } from "node:net";
import { tmpdir } from "node:os";
import { dirname, join } from "node:path";
import { setTimeout as sleep } from "node:timers/promises";
import { fileURLToPath } from "node:url";
import { freePort, waitFor } from "./rig.mjs";

const here = dirname(fileURLToPath(import.meta.url));
const { QLK_PROGRAM: program, QLK_SIMULATOR: simulator } = process.env;
if (![program, simulator, join(here, "node_modules", "ajv")].every((path) => path && existsSync(path))) {
    console.error("run.mjs: QLK_PROGRAM and QLK_SIMULATOR must name the built quorva-link and tpa-simulator, and tests/js/node_modules be installed (scripts/bootstrap)");
    process.exit(2);
}

// QSettings' INI key: it collapses repeated "/" and drops leading ones (a digest may start with "/"),
// "/" separates groups, other bytes outside [A-Za-z0-9_.-] are %XX. A key written otherwise is never found.
const iniKey = (key) => [...key.replace(/\/+/g, "/").replace(/^\//, "")]
    .map((c) => (c === "/" ? "\\" : /[A-Za-z0-9_.-]/.test(c) ? c : `%${c.charCodeAt(0).toString(16).toUpperCase().padStart(2, "0")}`)).join("");

// SIGTERM, and whether the process then ended on its own with exit code 0.
async function stop(child, graceMs = 5000) {
    if (child.exitCode === null && child.signalCode === null) {
        const exited = once(child, "exit");
        child.kill("SIGTERM");
        if (!(await Promise.race([exited.then(() => true), sleep(graceMs)])))
            return child.kill("SIGKILL"), await exited, false;
    }
    return child.exitCode === 0;
}

const temp = mkdtempSync(join(tmpdir(), "qlk-js-"));
const log = join(temp, "connector.log");
const logTail = (lines) => `run.mjs: the connector's log:\n${readFileSync(log, "utf8").split("\n").filter((line) => !line.startsWith("HttpConnectionHandler")).slice(-lines).join("\n")}`;
const key = "JsKit7f3av4.0"; // ends in the version suffix, so the connector takes it as it is
const terminals = {
    // name: [family, outcomes, step ms, USB ids]; SLOW's purchase runs 3 s: the rows that stop or interrupt it
    // mid-way need that margin over a request's time under AddressSanitizer on a busy machine.
    ING: [1, "approve", 50, "0B00:0060"], NEW: [2, "approve", 50, "0403:6001"], ING_DECLINE: [1, "decline", 50, "0B00:0060"], NEW_DECLINE: [2, "decline", 50, "0403:6001"],
    SLOW: [2, "approve", 1000, "0403:6001"], TIMEOUT: [1, "timeout", 50, "0B00:0060"], GONE: [1, "approve", 50, "0B00:0060"], WALK: [1, "approve", 50, "0B00:0060"],
};
const children = [];
let [capture, printer, connector, code] = [null, "", null, 1];
try {
    const captureDir = join(temp, "captured");
    let problem = "";
    try {
        execFileSync("lpstat", ["-r"], { stdio: "pipe" });
    } catch (error) {
        problem = `the CUPS scheduler does not answer (lpstat -r: ${error.message.split("\n")[0]}); start cupsd or use scripts/test`;
        if (process.env.CI === "true")
            throw new Error(problem);
    }
    if (!problem) {
        // A raw queue to a loopback listener; each connection (CUPS opens one per job) is a job, written once CUPS closes it.
        mkdirSync(captureDir);
        let count = 0;
        capture = createServer((socket) => {
            const chunks = [];
            socket.on("data", (chunk) => chunks.push(chunk)).on("end", () => {
                const file = join(captureDir, `job-${String(++count).padStart(6, "0")}.bin`);
                writeFileSync(`${file}.part`, Buffer.concat(chunks));
                renameSync(`${file}.part`, file);
                socket.end();
            });
        }).listen(0, "127.0.0.1");
        await once(capture, "listening");
        printer = `qlk-jsclient-${process.pid}-1`;
        execFileSync("lpadmin", ["-p", printer, "-E", "-v", `socket://127.0.0.1:${capture.address().port}`], { stdio: "pipe" });
    }

    const env = { ...process.env, QLK_JS_KEY: key, QLK_JS_CAPTURE: captureDir, QLK_JS_PRINTER: printer, QLK_JS_NO_PRINTER: problem };
    const simulated = [];
    for (const [name, [family, outcomes, stepMs, ids]] of Object.entries(terminals)) {
        const link = (env[`QLK_JS_TPA_${name}`] = join(temp, `tty${name}`));
        children.push(spawn(simulator, ["--family", String(family), "--link", link, "--step-ms", String(stepMs), "--outcomes", outcomes, "-q"], { stdio: ["ignore", "pipe", "inherit"] }));
        await waitFor(() => existsSync(link), 10000, `the terminal simulator at ${link}`);
        simulated.push(`${link}=${ids}`);
    }

    // The settings a first start would have after the user entered the key and switched the printer on.
    const configHome = join(temp, "config");
    mkdirSync(join(configHome, "Quorva"), { recursive: true });
    const enabled = printer ? `${iniKey(createHash("sha1").update(Buffer.from(printer, "latin1")).digest("base64"))}=true\n` : "";
    writeFileSync(join(configHome, "Quorva", "QuorvaLink.conf"), `[General]\nlicenseAccepted=true\nsecurityKey=${key}\nserverActive=true\n\n[printers]\n${enabled}`);
    const certificate = join(configHome, "Quorva", "QuorvaLink.crt");
    const port = await freePort();
    const programEnv = { ...process.env, XDG_CONFIG_HOME: configHome, QT_QPA_PLATFORM: "offscreen", QUORVA_LINK_PORT: String(port), QUORVA_LINK_SIMULATED_PORTS: simulated.join(",") };
    if (process.env.QLK_SANITIZER === "asan") // full allocation stacks, as tests/support/ProgramRunner.h gives them
        programEnv.ASAN_OPTIONS = `${programEnv.ASAN_OPTIONS ?? ""}:fast_unwind_on_malloc=0`;
    const logFd = openSync(log, "w");
    connector = spawn(program, ["--headless"], { env: programEnv, stdio: ["ignore", logFd, logFd] });
    closeSync(logFd);
    await waitFor(() => existsSync(certificate), 20000, "the connector's certificate");
    Object.assign(env, { QLK_JS_BASE: `https://localhost:${port}`, QLK_JS_PORT: String(port), QLK_JS_PID: String(connector.pid), QLK_JS_CONFIG: configHome, NODE_EXTRA_CA_CERTS: certificate });

    // Ready once it serves and lists the terminals and (with a scheduler) the printer.
    if ((await once(spawn(process.execPath, [join(here, "ready.mjs")], { env, stdio: "inherit" }), "exit"))[0] !== 0)
        throw new Error("the connector did not get ready");
    const files = process.argv.length > 2 ? process.argv.slice(2) : ["openapi.test.mjs", "browser.test.mjs", "client.test.mjs"];
    // A test that a fault leaves waiting fails in two minutes instead of holding the run to ctest's limit.
    [code] = await once(spawn(process.execPath, ["--test", "--test-concurrency=1", "--test-timeout=120000", ...files.map((f) => join(here, f))], { env, stdio: "inherit" }), "exit");
    const clean = await stop(connector);
    connector = null;
    if (!clean)
        console.error("run.mjs: the connector did not end cleanly on SIGTERM");
    if (code !== 0 || !clean)
        console.error(logTail(200));
    code = clean ? code : 1;
} catch (error) {
    console.error(`run.mjs: ${error.stack ?? error}`);
    if (connector && existsSync(log))
        console.error(logTail(80));
    code = 1;
} finally {
    if (connector)
        await stop(connector);
    for (const child of children)
        await stop(child);
    if (printer)
        try {
            execFileSync("lpadmin", ["-x", printer], { stdio: "pipe" });
        } catch {} // already gone
    capture?.close();
    rmSync(temp, { recursive: true, force: true });
}
process.exit(code);
