// The client against the real connector: transactions on both terminal
// families, every typed error, and a receipt built with the builder as the
// capture printer receives it.

import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { unlinkSync } from "node:fs";
import { describe, test } from "node:test";
import {
    ForbiddenOriginError,
    InvalidFieldError,
    NotReachableError,
    PollTimeoutError,
    PrinterError,
    QuorvaLink,
    TerminalBusyError,
    TerminalNotFoundError,
    TerminalOfflineError,
    TerminalTimeoutError,
    TooManyAttemptsError,
    UnauthorizedError,
    receipt,
} from "../../clients/js/src/index.js";
import { capturedJobs, freePort, waitFor } from "./rig.mjs";

const env = process.env;
const link = (options = {}) => new QuorvaLink({ key: env.QLK_JS_KEY, baseUrl: env.QLK_JS_BASE, pollIntervalMs: 100, ...options });
const tpa = (name) => env[`QLK_JS_TPA_${name}`];
const printerSkip = env.QLK_JS_PRINTER ? false : env.QLK_JS_NO_PRINTER;

// Until the terminal has no transaction running (clearing answers a list again).
const idle = (port) => waitFor(async () => Array.isArray(await link().data("/clearTpaTransactionStatus", { tpa_port: port, terminal_tpa_id: "idle" })), 20000, `${port} to be idle`);

describe("transactions end with the terminal's final message", () => {
    const cases = [
        ["ING", "purchase", "P1510000001250", "M001INSIRA OU APROXIME O CARTAO"],
        ["ING", "refund", "P16100", "M001INSIRA O CARTAO"],
        ["NEW", "purchase", "C00000APROVADOQLK0000100001250", "D000INSIRA OU APROXIME O CARTAO"],
        ["NEW", "refund", "C00200", "D000INSIRA O CARTAO"],
    ];
    for (const [terminal, kind, final, prompt] of cases) {
        test(`${kind} on ${terminal}`, async () => {
            const seen = [];
            const options = { caller: `till-${kind}`, amountCents: 1250, onStatus: (m) => seen.push(m) };
            if (kind === "refund")
                Object.assign(options, { reference: "QLK00001", dateTime: new Date(2026, 11, 6, 14, 5, 9) });
            assert.equal(await link()[kind](tpa(terminal), options), final);
            assert.deepEqual([seen[0], seen.at(-1)], ["QLK0000|M00|Comando adicionado com sucesso", final]);
            assert.ok(seen.includes(prompt), seen.join(" / "));
            assert.equal(new Set(seen).size, seen.length, "each message is seen once");
        });
    }
});

// The error an operation rejects with, checked for its class and codes.
async function rejection(promise) {
    try {
        await promise;
    } catch (error) {
        return error;
    }
    assert.fail("resolved where it should have been refused");
}

describe("typed errors", () => {
    const refund = { caller: "till-e", amountCents: 1250, reference: "QLK00001", dateTime: "2026-12-06 14:05:09" };
    const cases = [
        ["M21 unknown port", () => link().purchase("/dev/no-such-terminal", { caller: "till-e", amountCents: 100 }), TerminalNotFoundError, "QLK1001", "M21", "TPA not found"],
        ["M23 amount", () => link().purchase(tpa("ING"), { caller: "till-e", amountCents: 1e9 }), InvalidFieldError, "QLK1001", "M23", "Invalid amount"],
        ["M23 reference", () => link().refund(tpa("ING"), { ...refund, reference: "" }), InvalidFieldError, "QLK1001", "M23", "Invalid reference"],
        ["M23 date-time", () => link().refund(tpa("ING"), { ...refund, dateTime: "06/12/2026" }), InvalidFieldError, "QLK1001", "M23", "Invalid date-time"],
        ["M99 from the terminal", () => link().purchase(tpa("TIMEOUT"), { caller: "till-e", amountCents: 100 }), TerminalTimeoutError, "QLK1001", "M99", "Operation Timeout"],
        ["401 wrong key", () => link({ key: "not-the-key" }).printers(), UnauthorizedError, null, null, "Invalid security key"],
        ["printer not found", () => link().print("no-such-printer", receipt().line("x")), PrinterError, null, null, "Printer not found"],
        ["job the printer cannot print", () => link().preview(receipt().barcode({ type: "EAN13", text: "4006381333932" })), PrinterError, null, null, /^Invalid job: operation 0 \(barcode\): wrong check digit/],
    ];
    for (const [name, call, Kind, code, messageCode, text] of cases) {
        test(name, async () => {
            const error = await rejection(call());
            assert.ok(error instanceof Kind, `${error.name}: ${error.message}`);
            assert.equal(error.code, code);
            assert.equal(error.messageCode, messageCode);
            assert.match(error.text, text instanceof RegExp ? text : new RegExp(`^${text.replace(/[.*+?^${}()|[\]\\]/g, "\\$&")}$`));
        });
    }

    test("M22 terminal gone", async () => {
        unlinkSync(tpa("GONE"));
        const error = await rejection(link().purchase(tpa("GONE"), { caller: "till-e", amountCents: 100 }));
        assert.ok(error instanceof TerminalOfflineError, String(error));
        assert.equal(error.messageCode, "M22");
    });

    test("403 foreign page", async (t) => {
        // What a browser adds to a page's requests, as a page of another site would send it.
        const real = globalThis.fetch;
        t.after(() => (globalThis.fetch = real));
        globalThis.fetch = (url, init) => real(url, { ...init, headers: { ...init.headers, Origin: "https://evilquorva.pt" } });
        const error = await rejection(link().status());
        assert.ok(error instanceof ForbiddenOriginError, String(error));
        assert.deepEqual([error.httpStatus, error.text], [403, "Origin not allowed"]);
    });

    test("polling: the client's own time limit, abort, and another caller told busy", async () => {
        const slow = tpa("SLOW");
        const late = await rejection(link().purchase(slow, { caller: "till-a", amountCents: 100, timeoutMs: 300 }));
        assert.ok(late instanceof PollTimeoutError, String(late));
        await idle(slow);

        const controller = new AbortController();
        const seen = [];
        const aborted = rejection(link().purchase(slow, { caller: "till-a", amountCents: 100, signal: controller.signal, onStatus: (m) => { seen.push(m); controller.abort(); } }));
        assert.equal((await aborted).name, "AbortError");
        assert.equal(seen.length, 1, "no message after the abort");
        const busy = await rejection(link().purchase(slow, { caller: "till-b", amountCents: 100 }));
        assert.ok(busy instanceof TerminalBusyError, String(busy));
        assert.deepEqual([busy.code, busy.messageCode, busy.text], ["QLK1001", "M10", "TPA already busy"]);
        await idle(slow);
    });

    test("not reachable: nothing listening, or a certificate nobody trusts", async () => {
        const closed = await rejection(link({ baseUrl: `https://localhost:${await freePort()}` }).status());
        assert.ok(closed instanceof NotReachableError, String(closed));
        assert.match(closed.message, /Confiar no certificado.*--trust-certificate/s);
        // The real connector, from a Node without its certificate.
        const script = `import {QuorvaLink} from ${JSON.stringify(new URL("../../clients/js/src/index.js", import.meta.url).href)};
            new QuorvaLink({key: "k", baseUrl: ${JSON.stringify(env.QLK_JS_BASE)}}).status().then(() => console.log("trusted"), (e) => console.log(e.name, e.cause?.cause?.code));`;
        const untrusted = { ...env };
        delete untrusted.NODE_EXTRA_CA_CERTS;
        const run = spawnSync(process.execPath, ["--input-type=module", "-e", script], { env: untrusted, encoding: "utf8" });
        assert.match(run.stdout.trim(), /^NotReachableError (DEPTH_ZERO_SELF_SIGNED_CERT|SELF_SIGNED_CERT_IN_CHAIN|UNABLE_TO_VERIFY_LEAF_SIGNATURE)$/, run.stderr);
    });
});

test("a receipt from the builder prints the expected bytes", { skip: printerSkip }, async () => {
    const before = capturedJobs(env.QLK_JS_CAPTURE).length;
    const job = receipt().align("center").style({ emphasized: true }).line("Pastelaria Aurora").style()
        .qrcode({ text: "QLK", size: 4, errorCorrection: "Q" }).barcode({ type: "EAN8", text: "9638507", height: 50, width: 2, hri: "none" })
        .pulse({ drawer: 1, pulse: 100 }).cut();
    assert.equal(await link().print(env.QLK_JS_PRINTER, job), "Job completed successfully");
    const jobs = await waitFor(() => { const all = capturedJobs(env.QLK_JS_CAPTURE); return all.length > before && all; }, 30000, "the job at the printer");
    const bytes = (...parts) => Buffer.concat(parts.map((p) => (typeof p === "string" ? Buffer.from(p, "latin1") : Buffer.from(p))));
    const expected = bytes(
        [0x1b, 0x40], [0x1b, 0x61, 1], [0x1b, 0x21, 0x08], [0x1b, 0x74, 0], "Pastelaria Aurora\n", [0x1b, 0x21, 0],
        [0x1d, 0x28, 0x6b, 4, 0, 0x31, 0x41, 0x32, 0], [0x1d, 0x28, 0x6b, 3, 0, 0x31, 0x43, 4], [0x1d, 0x28, 0x6b, 3, 0, 0x31, 0x45, 0x32],
        [0x1d, 0x28, 0x6b, 6, 0, 0x31, 0x50, 0x30], "QLK", [0x1d, 0x28, 0x6b, 3, 0, 0x31, 0x51, 0x30],
        // EAN-8 with its check digit (9638507 -> 4)
        [0x1d, 0x68, 50], [0x1d, 0x77, 2], [0x1d, 0x48, 0], [0x1d, 0x6b, 68, 8], "96385074",
        [0x1b, 0x70, 1, 100, 0xfa], [0x1d, 0x56, 0x42, 0x0a],
    );
    assert.equal(jobs.at(-1).toString("hex"), expected.toString("hex"));
});

test("notifications go round", async () => {
    assert.equal(await link().notify({ requestId: 7, terminalId: 2, statusId: 1, title: "Mesa 4", subtitle: "Pronto", date: new Date(Date.now() - 1000) }), "Notification received");
    const held = (await link().notifications()).filter((n) => n.title === "Mesa 4");
    assert.deepEqual(held.map((n) => [n.request_id, n.terminal_id, n.status_id, n.subtitle]), [[7, 2, 1, "Pronto"]]);
});

// Last: it shuts this computer's address out for ten seconds.
test("too many wrong keys", async () => {
    const wrong = link({ key: "guess" });
    let error;
    for (let i = 0; i < 25 && !(error instanceof TooManyAttemptsError); i++)
        error = await rejection(wrong.status());
    assert.ok(error instanceof TooManyAttemptsError, String(error));
    assert.equal(error.httpStatus, 429);
    assert.ok(error.retryAfter >= 1 && error.retryAfter <= 10, String(error.retryAfter));
});
