// The real parts the JavaScript tests run against: a raw CUPS queue whose jobs
// land in files, terminal simulators on pseudo-terminals and the connector
// itself, headless, on settings and a port of its own.

import { execFileSync, spawn } from "node:child_process";
import { createHash } from "node:crypto";
import { once } from "node:events";
import { closeSync, existsSync, openSync, mkdirSync, readFileSync, readdirSync, renameSync, writeFileSync } from "node:fs";
import { createServer } from "node:net";
import { join } from "node:path";
import { setTimeout as sleep } from "node:timers/promises";

export async function waitFor(check, timeoutMs, what) {
    const deadline = Date.now() + timeoutMs;
    let last = "no answer";
    for (;;) {
        try {
            const value = await check();
            if (value)
                return value;
            last = "not yet";
        } catch (error) {
            last = String(error); // not yet; said if it stays so
        }
        if (Date.now() > deadline)
            throw new Error(`timed out waiting for ${what} (last: ${last})`);
        await sleep(100);
    }
}

export async function freePort() {
    const server = createServer().listen(0, "127.0.0.1");
    await once(server, "listening");
    const { port } = server.address();
    server.close();
    return port;
}

// Why the printing parts cannot run here; empty when they can.
export function cupsProblem() {
    try {
        execFileSync("lpstat", ["-r"], { stdio: "pipe" });
        return "";
    } catch (error) {
        return `the CUPS scheduler does not answer (lpstat -r: ${error.message.split("\n")[0]}); start cupsd or use scripts/test`;
    }
}

// A raw queue to a loopback listener; each connection (CUPS opens one per job)
// is a job, written to folder/job-N.bin once CUPS closes it.
export class CapturePrinter {
    static async start(folder) {
        mkdirSync(folder, { recursive: true });
        const printer = new CapturePrinter();
        let count = 0;
        printer.server = createServer((socket) => {
            const chunks = [];
            socket.on("data", (chunk) => chunks.push(chunk));
            socket.on("end", () => {
                const file = join(folder, `job-${++count}.bin`);
                writeFileSync(`${file}.part`, Buffer.concat(chunks));
                renameSync(`${file}.part`, file);
                socket.end();
            });
        });
        printer.server.listen(0, "127.0.0.1");
        await once(printer.server, "listening");
        printer.name = `qlk-jsclient-${process.pid}-1`;
        execFileSync("lpadmin", ["-p", printer.name, "-E", "-v", `socket://127.0.0.1:${printer.server.address().port}`], {
            stdio: "pipe",
        });
        return printer;
    }
    stop() {
        try {
            execFileSync("lpadmin", ["-x", this.name], { stdio: "pipe" });
        } catch {
            // already gone
        }
        this.server.close();
    }
}

// The jobs a CapturePrinter wrote to folder, oldest first.
export function capturedJobs(folder) {
    return readdirSync(folder)
        .filter((name) => /^job-\d+\.bin$/.test(name))
        .sort((a, b) => parseInt(a.slice(4), 10) - parseInt(b.slice(4), 10))
        .map((name) => readFileSync(join(folder, name)));
}

// The simulator program playing a terminal of family 1 or 2 at the path link.
export async function startSimulator(program, family, link, outcomes = "approve", stepMs = 50) {
    const child = spawn(program, ["--family", String(family), "--link", link, "--step-ms", String(stepMs), "--outcomes", outcomes, "-q"], {
        stdio: ["ignore", "pipe", "inherit"],
    });
    await waitFor(() => existsSync(link), 10000, `the terminal simulator at ${link}`);
    return child;
}

// QSettings' INI key escaping: "/" separates groups, other bytes outside [A-Za-z0-9_.-] are %XX.
// QSettings first collapses repeated "/" and drops leading ones (a digest may
// start with "/"); a key written without that is never found again.
function iniKey(key) {
    return [...key.replace(/\/+/g, "/").replace(/^\//, "")]
        .map((c) => (c === "/" ? "\\" : /[A-Za-z0-9_.-]/.test(c) ? c : `%${c.charCodeAt(0).toString(16).toUpperCase().padStart(2, "0")}`))
        .join("");
}

// The settings a first start would have after the user entered key and switched the printers on.
export function writeSettings(configHome, key, printers) {
    const folder = join(configHome, "Quorva");
    mkdirSync(folder, { recursive: true });
    const enabled = printers.map(
        (name) => `${iniKey(createHash("sha1").update(Buffer.from(name, "latin1")).digest("base64"))}=true`,
    );
    writeFileSync(
        join(folder, "QuorvaLink.conf"),
        `[General]\nlicenseAccepted=true\nsecurityKey=${key}\nserverActive=true\n\n[printers]\n${enabled.join("\n")}\n`,
    );
    return join(folder, "QuorvaLink.crt");
}

// The connector, headless, with its settings under configHome.
// Its log goes to logFile (told on failure: it is long).
export function startProgram(program, configHome, port, simulatedPorts, logFile) {
    const env = {
        ...process.env,
        XDG_CONFIG_HOME: configHome,
        QT_QPA_PLATFORM: "offscreen",
        QUORVA_LINK_PORT: String(port),
        QUORVA_LINK_SIMULATED_PORTS: simulatedPorts,
    };
    // Under ASan, full allocation stacks (see tests/support/ProgramRunner.h).
    if (process.env.QLK_SANITIZER === "asan")
        env.ASAN_OPTIONS = `${env.ASAN_OPTIONS ?? ""}:fast_unwind_on_malloc=0`;
    const log = openSync(logFile, "w");
    const child = spawn(program, ["--headless"], { env, stdio: ["ignore", log, log] });
    closeSync(log);
    return child;
}

// SIGTERM, and whether the process then ended on its own with exit code 0.
export async function stop(child, graceMs = 5000) {
    if (child.exitCode !== null || child.signalCode !== null)
        return child.exitCode === 0;
    const exited = once(child, "exit");
    child.kill("SIGTERM");
    const clean = await Promise.race([exited.then(() => child.exitCode === 0), sleep(graceMs).then(() => null)]);
    if (clean === null) {
        child.kill("SIGKILL");
        await exited;
        return false;
    }
    return clean;
}
