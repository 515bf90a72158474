// The client against the real connector: transactions on both terminal
// families, every typed error, and a receipt built with the builder as the
// capture printer receives it.

import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { readdirSync, readFileSync, unlinkSync } from "node:fs";
import { describe, test } from "node:test";
import { setTimeout as sleep } from "node:timers/promises";
import {
    DeclinedError,
    ForbiddenOriginError,
    InvalidFieldError,
    NotReachableError,
    PollTimeoutError,
    MAX_BODY_BYTES,
    PrinterError,
    QuorvaLink,
    RequestTimeoutError,
    RequestTooLargeError,
    ResultLostError,
    TerminalBusyError,
    TerminalNotFoundError,
    TerminalOfflineError,
    TerminalTimeoutError,
    TooManyAttemptsError,
    TransactionPendingError,
    UnauthorizedError,
    UnreadResultError,
    receipt,
} from "../../clients/js/src/index.js";
import { capturedJobs, freePort, waitFor } from "./rig.mjs";

const env = process.env;
const link = (options = {}) => new QuorvaLink({ key: env.QLK_JS_KEY, baseUrl: env.QLK_JS_BASE, pollIntervalMs: 100, ...options });
const tpa = (name) => env[`QLK_JS_TPA_${name}`];
const printerSkip = env.QLK_JS_PRINTER ? false : env.QLK_JS_NO_PRINTER;

// Until the terminal has no transaction running (clearing answers a list again).
const idle = (port) => waitFor(async () => Array.isArray(await link().data("/clearTpaTransactionStatus", { tpa_port: port, terminal_tpa_id: "idle" })), 20000, `${port} to be idle`);

// Until the connector has stopped refusing this computer for wrong keys.
const admitted = () => waitFor(async () => (await link().status()) === "Device online", 20000, "the wrong-key window to end");

describe("transactions end with the terminal's result", () => {
    const cases = [
        // terminal, kind, approved, final message, a prompt on the way
        ["ING", "purchase", true, "P1510000001250", "M001INSIRA OU APROXIME O CARTAO"],
        ["ING", "refund", true, "P16100", "M001INSIRA O CARTAO"],
        ["NEW", "purchase", true, "C00000APROVADOQLK0000100001250", "D000INSIRA OU APROXIME O CARTAO"],
        ["NEW", "refund", true, "C00200", "D000INSIRA O CARTAO"],
        ["ING_DECLINE", "purchase", false, "P2510500001250", "M001INTRODUZA O PIN"],
        ["ING_DECLINE", "refund", false, "P26105", "M001INSIRA O CARTAO"],
        ["NEW_DECLINE", "purchase", false, "C00005RECUSADO", "D000INTRODUZA O PIN"],
        ["NEW_DECLINE", "refund", false, "C00205", "D000INSIRA O CARTAO"],
    ];
    for (const [terminal, kind, approved, final, prompt] of cases) {
        test(`${kind} on ${terminal}`, async () => {
            const seen = [];
            const options = { caller: `till-${kind}`, amountCents: 1250, onStatus: (m) => seen.push(m) };
            if (kind === "refund")
                Object.assign(options, { reference: "QLK00001", dateTime: new Date(2026, 11, 6, 14, 5, 9) });
            const outcome = await link()[kind](tpa(terminal), options).catch((error) => error);
            const result = approved ? outcome : outcome.result;
            if (!approved)
                assert.ok(outcome instanceof DeclinedError && outcome.port === tpa(terminal), String(outcome));
            assert.deepEqual([result.approved, result.message, result.responseCode], [approved, final, approved ? "00" : "05"]);
            assert.deepEqual(result.messages, seen);
            assert.deepEqual([seen[0], seen.at(-1)], ["QLK0000|M00|Comando adicionado com sucesso", final]);
            assert.ok(seen.includes(prompt), seen.join(" / "));
            assert.equal(new Set(seen).size, seen.length, "each message is seen once");
        });
    }
});

describe("a payment is never walked away from", () => {
    const approved = "C00000APROVADOQLK0000100000100";
    const purchase = (options, client = link()) => client.purchase(tpa("SLOW"), { caller: "till-p", amountCents: 100, ...options });

    test("abort and time limit leave it to resume(); an unread outcome is not cleared away", async () => {
        for (const stop of ["abort", "time limit"]) {
            const controller = new AbortController();
            const seen = [];
            const options = stop === "abort" ? { signal: controller.signal, onStatus: (m) => (seen.push(m), controller.abort()) } : { timeoutMs: 300 };
            const till = link(); // resume() on the same client: its read left running may take the outcome
            const left = await rejection(purchase(options, till));
            assert.ok(left instanceof (stop === "abort" ? TransactionPendingError : PollTimeoutError), String(left));
            assert.deepEqual([left.port, left.caller], [tpa("SLOW"), "till-p"]);
            assert.match(left.message, /may still complete.*resume/);
            // Still running: another purchase of this caller is refused, nothing is sent.
            const unread = await rejection(purchase({}));
            assert.ok(unread instanceof UnreadResultError && unread.result === null, String(unread));
            assert.equal(unread.messages[0], "QLK0000|M00|Comando adicionado com sucesso");
            const result = await till.resume(tpa("SLOW"), "till-p", { pollIntervalMs: 100 }).catch((e) => e);
            assert.equal(result.message, approved, String(result));
        }
        // Ended while nobody read it: the next purchase hands that outcome over instead of deleting it.
        const controller = new AbortController();
        await rejection(purchase({ signal: controller.signal, onStatus: () => controller.abort() }));
        await idle(tpa("SLOW")); // another caller's clearing: till-p's list stays
        const unread = await rejection(purchase({}));
        assert.ok(unread instanceof UnreadResultError, String(unread));
        assert.deepEqual([unread.result?.approved, unread.result?.message], [true, approved]);
        assert.equal((await purchase({})).message, approved, "then the caller starts afresh");
    });

    test("a lockout for wrong keys is waited out; Retry-After is read", async () => {
        let lockout;
        const result = await purchase({
            onStatus: async (message) => {
                if (lockout || !message.startsWith("D000"))
                    return;
                lockout = true;
                const wrong = link({ key: "guess" });
                for (let i = 0; i < 25 && !(lockout instanceof TooManyAttemptsError); i++)
                    lockout = await rejection(wrong.status());
            },
        });
        assert.equal(result.message, approved);
        assert.ok(lockout instanceof TooManyAttemptsError, String(lockout));
        assert.equal(lockout.httpStatus, 429);
        assert.ok(lockout.retryAfter >= 1 && lockout.retryAfter <= 10, String(lockout.retryAfter));
        await admitted();
    });

    test("a reused caller whose result another reader took is told so", async (t) => {
        // Another tab with the same caller reads the whole list while this one's next read is held back.
        const real = globalThis.fetch;
        t.after(() => (globalThis.fetch = real));
        let held = null;
        globalThis.fetch = async (url, init) => (await held, real(url, init));
        const other = async () => {
            let taken = false;
            for (;;) {
                const answer = await real(`${env.QLK_JS_BASE}/getTpaTransactionStatus`, {
                    method: "POST",
                    headers: { Authorization: `Bearer ${env.QLK_JS_KEY}`, "Content-Type": "application/json" },
                    body: JSON.stringify({ tpa_port: tpa("SLOW"), terminal_tpa_id: "till-p" }),
                });
                const list = (await answer.json()).data;
                if (taken && list.length === 0)
                    return;
                taken ||= list.at(-1) === approved;
                await sleep(20);
            }
        };
        const lost = await rejection(purchase({ onStatus: () => (held ??= other()) }));
        assert.ok(lost instanceof ResultLostError, String(lost));
        assert.ok(!lost.messages.includes(approved), lost.messages.join(" / "));
    });

    test("a connector that stops answering gives the time limit's error on time", { timeout: 60000 }, async (t) => {
        const pid = Number(env.QLK_JS_PID);
        t.after(() => process.kill(pid, "SIGCONT"));
        process.kill(pid, "SIGSTOP");
        // The signal lands a moment after kill() returns: a request sent before that is answered.
        const allStopped = () => readdirSync(`/proc/${pid}/task`).every((task) => readFileSync(`/proc/${pid}/task/${task}/stat`, "utf8").split(") ")[1].startsWith("T"));
        await waitFor(allStopped, 5000, "every thread of the connector to stop");
        const late = await rejection(link().status({ timeoutMs: 500 }));
        assert.ok(late instanceof RequestTimeoutError, String(late));
        process.kill(pid, "SIGCONT");
        // Stopped while a payment runs: the client's limit, then resume() once it answers again.
        // The read left unanswered may take the outcome once the connector goes on: resume() gets its answer.
        const till = link();
        const options = { caller: "till-p", amountCents: 100, timeoutMs: 1500, onStatus: () => process.kill(pid, "SIGSTOP") };
        const stopped = await rejection(till.purchase(tpa("SLOW"), options));
        assert.ok(stopped instanceof PollTimeoutError, String(stopped));
        await sleep(2000); // the terminal ends the purchase meanwhile
        process.kill(pid, "SIGCONT");
        assert.equal((await till.resume(tpa("SLOW"), "till-p")).message, approved);
    });
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

    test("another caller is told busy", async () => {
        const controller = new AbortController();
        let started;
        const begun = new Promise((resolve) => (started = resolve));
        // resume() on the same client: its read left running may be the one that takes the outcome.
        const till = link();
        const running = rejection(till.purchase(tpa("SLOW"), { caller: "till-a", amountCents: 100, signal: controller.signal, onStatus: () => started() }));
        await begun;
        const busy = await rejection(link().purchase(tpa("SLOW"), { caller: "till-b", amountCents: 100 }));
        assert.ok(busy instanceof TerminalBusyError, String(busy));
        assert.deepEqual([busy.code, busy.messageCode, busy.text], ["QLK1001", "M10", "TPA already busy"]);
        controller.abort();
        assert.ok((await running) instanceof TransactionPendingError);
        assert.equal((await till.resume(tpa("SLOW"), "till-a")).approved, true);
    });

    test("a request over the connector's limit is refused before it is sent", async () => {
        const pad = (bytes) => ({ pad: "x".repeat(bytes - '{"pad":""}'.length) });
        assert.equal((await link().request("/getStatus", pad(MAX_BODY_BYTES))).data, "Device online");
        const error = await rejection(link().request("/getStatus", pad(MAX_BODY_BYTES + 1)));
        assert.ok(error instanceof RequestTooLargeError, String(error));
        const job = await rejection(link().print("any", [{ op: "text", data: "é".repeat(MAX_BODY_BYTES / 2) }]));
        assert.ok(job instanceof RequestTooLargeError, String(job));
    });

    test("not reachable: nothing listening, or a certificate nobody trusts", async () => {
        const closed = await rejection(link({ baseUrl: `https://localhost:${await freePort()}` }).status());
        assert.ok(closed instanceof NotReachableError, String(closed));
        assert.match(closed.message, /NODE_EXTRA_CA_CERTS=~\/\.config\/Quorva\/QuorvaLink\.crt/);
        // The real connector, from a Node without its certificate.
        const script = `import {QuorvaLink} from ${JSON.stringify(new URL("../../clients/js/src/index.js", import.meta.url).href)};
            new QuorvaLink({key: "k", baseUrl: ${JSON.stringify(env.QLK_JS_BASE)}}).status().then(() => console.log("trusted"), (e) => console.log(e.name, e.cause?.cause?.code, /NODE_EXTRA_CA_CERTS/.test(e.message)));`;
        const untrusted = { ...env };
        delete untrusted.NODE_EXTRA_CA_CERTS;
        const run = spawnSync(process.execPath, ["--input-type=module", "-e", script], { env: untrusted, encoding: "utf8" });
        assert.match(run.stdout.trim(), /^NotReachableError (DEPTH_ZERO_SELF_SIGNED_CERT|SELF_SIGNED_CERT_IN_CHAIN|UNABLE_TO_VERIFY_LEAF_SIGNATURE) true$/, run.stderr);
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

test("notifications go round, their dates stored as the connector reads them", async () => {
    const when = new Date(Date.now() - 60000);
    when.setMilliseconds(0);
    const local = new Date(when.getTime() - when.getTimezoneOffset() * 60000).toISOString().slice(0, 19);
    const dates = { "Mesa 4": when, "Mesa 5": when.toISOString(), "Mesa 6": local };
    for (const [title, date] of Object.entries(dates))
        assert.equal(await link().notify({ requestId: 7, terminalId: 2, statusId: 1, title, subtitle: "Pronto", date }), "Notification received");
    const held = (await link().notifications()).filter((n) => n.title in dates);
    assert.deepEqual(held.map((n) => [n.title, n.request_id, n.terminal_id, n.status_id, n.subtitle, n.date]), Object.keys(dates).map((title) => [title, 7, 2, 1, "Pronto", local]));
    assert.throws(() => link().notify({ title: "x", subtitle: "y", date: "yesterday" }), TypeError);
});

test("the builder refuses what the connector would change", () => {
    const cases = [
        // method, argument, the value the error names
        ["align", "toString", '"toString"'], ["align", "constructor", '"constructor"'], ["align", "middle", '"middle"'],
        ["cut", "partial", '"partial"'], ["cut", true, "true"],
        ["pulse", { drawer: 2 }, "2"], ["pulse", { drawer: "1" }, '"1"'], ["pulse", { pulse: 10 }, "10"], ["pulse", { pulse: 251 }, "251"], ["pulse", { pulse: 50.5 }, "50.5"],
    ];
    for (const [method, argument, named] of cases)
        assert.throws(() => receipt()[method](argument), (e) => e instanceof TypeError && e.message.endsWith(`not ${named}`), `${method}(${JSON.stringify(argument)})`);
    assert.deepEqual(receipt().align("right").cut("no_feed").pulse({ drawer: 1, pulse: 250 }).build(), [
        { op: "alignment", data: 2 }, { op: "cut", data: "no_feed" }, { op: "pulse", data: { drawer: 1, pulse: 250 } },
    ]);
});
