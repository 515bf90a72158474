// The client against the real connector: transactions on both terminal families, every typed error,
// and a receipt built with the builder as the capture printer receives it.

import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { readdirSync, readFileSync, unlinkSync } from "node:fs";
import { describe, test } from "node:test";
import { setTimeout as sleep } from "node:timers/promises";
import { DeclinedError, ForbiddenOriginError, InvalidFieldError, NotReachableError, PollTimeoutError, MAX_BODY_BYTES, PrinterError, QuorvaLink, RequestTimeoutError,
    RequestTooLargeError, ResultLostError, TerminalBusyError, TerminalNotFoundError, TerminalOfflineError, TerminalTimeoutError, TooManyAttemptsError,
    TransactionPendingError, UnauthorizedError, UnreadResultError, receipt } from "../../clients/js/src/index.js";
import { capturedJobs, freePort, newJob, waitFor } from "./rig.mjs";

const env = process.env;
const link = (options = {}) => new QuorvaLink({ key: env.QLK_JS_KEY, baseUrl: env.QLK_JS_BASE, pollIntervalMs: 100, ...options });
const tpa = (name) => env[`QLK_JS_TPA_${name}`];
const rejection = (promise) => promise.then(() => assert.fail("resolved where it should have been refused"), (error) => error);
const is = (value, Kind) => assert.ok(value instanceof Kind, `${value?.name}: ${value?.message}`);
// Until the terminal has no transaction running (clearing answers a list again).
const idle = (port) => waitFor(async () => Array.isArray(await link().data("/clearTpaTransactionStatus", { tpa_port: port, terminal_tpa_id: "idle" })), 20000, `${port} to be idle`);
const STARTED = "QLK0000|M00|Comando adicionado com sucesso";
// Puts wrap(real fetch) in fetch's place until the test ends; gives the real one.
const swapFetch = (t, wrap) => {
    const real = globalThis.fetch;
    t.after(() => (globalThis.fetch = real));
    return (globalThis.fetch = wrap(real)), real;
};

describe("transactions end with the terminal's result", () => {
    for (const [terminal, kind, approved, final, prompt] of [
        ["ING", "purchase", true, "P1510000001250", "M001INSIRA OU APROXIME O CARTAO"],
        ["ING", "refund", true, "P16100", "M001INSIRA O CARTAO"],
        ["NEW", "purchase", true, "C00000APROVADOQLK0000100001250", "D000INSIRA OU APROXIME O CARTAO"],
        ["NEW", "refund", true, "C00200", "D000INSIRA O CARTAO"],
        ["ING_DECLINE", "purchase", false, "P2510500001250", "M001INTRODUZA O PIN"],
        ["ING_DECLINE", "refund", false, "P26105", "M001INSIRA O CARTAO"],
        ["NEW_DECLINE", "purchase", false, "C00005RECUSADO", "D000INTRODUZA O PIN"],
        ["NEW_DECLINE", "refund", false, "C00205", "D000INSIRA O CARTAO"],
    ]) {
        test(`${kind} on ${terminal}`, async () => {
            const seen = [];
            const refund = kind === "refund" ? { reference: "QLK00001", dateTime: new Date(2026, 11, 6, 14, 5, 9) } : {};
            const outcome = await link()[kind](tpa(terminal), { caller: `till-${kind}`, amountCents: 1250, onStatus: (m) => seen.push(m), ...refund }).catch((e) => e);
            if (!approved) // only an approval resolves
                assert.ok(outcome instanceof DeclinedError && outcome.port === tpa(terminal), String(outcome));
            const result = approved ? outcome : outcome.result;
            assert.deepEqual([result.approved, result.message, result.responseCode], [approved, final, approved ? "00" : "05"]);
            assert.deepEqual(result.messages, seen);
            assert.deepEqual([seen[0], seen.at(-1)], [STARTED, final]);
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
            const options = stop === "abort" ? { signal: controller.signal, onStatus: () => controller.abort() } : { timeoutMs: 1500 };
            const till = link(); // resume() on the same client: its read left running may take the outcome
            const left = await rejection(purchase(options, till));
            is(left, stop === "abort" ? TransactionPendingError : PollTimeoutError);
            assert.deepEqual([left.port, left.caller], [tpa("SLOW"), "till-p"]);
            assert.match(left.message, /may still complete.*resume/);
            // Still running: another purchase of this caller is refused, nothing is sent.
            const unread = await rejection(purchase({}));
            assert.ok(unread instanceof UnreadResultError && unread.result === null, String(unread));
            assert.equal(unread.messages[0], STARTED);
            assert.equal((await till.resume(tpa("SLOW"), "till-p", { pollIntervalMs: 100 }).catch((e) => e)).message, approved);
        }
        // Ended while nobody read it: the next purchase hands that outcome over instead of deleting it.
        const controller = new AbortController();
        await rejection(purchase({ signal: controller.signal, onStatus: () => controller.abort() }));
        await idle(tpa("SLOW")); // another caller's clearing: till-p's list stays
        const unread = await rejection(purchase({}));
        is(unread, UnreadResultError);
        assert.deepEqual([unread.result?.approved, unread.result?.message], [true, approved]);
        assert.equal((await purchase({})).message, approved, "then the caller starts afresh");
    });

    test("a lockout for wrong keys is waited out; Retry-After is read", async () => {
        let lockout;
        const result = await purchase({
            onStatus: async (message) => {
                if (lockout || !message.startsWith("D000"))
                    return;
                lockout = true; // once, while the purchase runs
                for (let i = 0, wrong = link({ key: "guess" }); i < 25 && !(lockout instanceof TooManyAttemptsError); i++)
                    lockout = await rejection(wrong.status());
            },
        });
        assert.equal(result.message, approved);
        is(lockout, TooManyAttemptsError);
        assert.equal(lockout.httpStatus, 429);
        assert.ok(lockout.retryAfter >= 1 && lockout.retryAfter <= 10, String(lockout.retryAfter));
        await waitFor(async () => (await link().status()) === "Device online", 20000, "the wrong-key window to end");
    });

    test("a reused caller whose result another reader took is told so", async (t) => {
        // Another tab with the same caller reads the whole list while this one's next read is held back.
        let held = null;
        const real = swapFetch(t, (real) => async (url, init) => (await held, real(url, init)));
        const other = async () => {
            for (let taken = false; ;) {
                const list = (await (await real(`${env.QLK_JS_BASE}/getTpaTransactionStatus`, { method: "POST", headers: { Authorization: `Bearer ${env.QLK_JS_KEY}`,
                    "Content-Type": "application/json" }, body: JSON.stringify({ tpa_port: tpa("SLOW"), terminal_tpa_id: "till-p" }) })).json()).data;
                if (taken && list.length === 0)
                    return;
                taken ||= list.at(-1) === approved;
                await sleep(20);
            }
        };
        const lost = await rejection(purchase({ onStatus: () => (held ??= other()) }));
        is(lost, ResultLostError);
        assert.ok(!lost.messages.includes(approved), lost.messages.join(" / "));
    });

    test("a connector that stops answering gives the time limit's error on time", { timeout: 60000 }, async (t) => {
        const pid = Number(env.QLK_JS_PID);
        t.after(() => process.kill(pid, "SIGCONT"));
        process.kill(pid, "SIGSTOP");
        // The signal lands a moment after kill() returns: a request sent before that is answered.
        const allStopped = () => readdirSync(`/proc/${pid}/task`).every((task) => readFileSync(`/proc/${pid}/task/${task}/stat`, "utf8").split(") ")[1].startsWith("T"));
        await waitFor(allStopped, 5000, "every thread of the connector to stop");
        is(await rejection(link().status({ timeoutMs: 500 })), RequestTimeoutError);
        process.kill(pid, "SIGCONT");
        // Stopped while a payment runs: the client's limit, then resume() (whose read left unanswered may take the outcome).
        const till = link();
        is(await rejection(till.purchase(tpa("SLOW"), { caller: "till-p", amountCents: 100, timeoutMs: 1500, onStatus: () => process.kill(pid, "SIGSTOP") })), PollTimeoutError);
        await sleep(2000); // the terminal ends the purchase meanwhile
        process.kill(pid, "SIGCONT");
        assert.equal((await till.resume(tpa("SLOW"), "till-p")).message, approved);
    });
});

describe("typed errors", () => {
    const refund = { caller: "till-e", amountCents: 1250, reference: "QLK00001", dateTime: "2026-12-06 14:05:09" };
    const purchase = (name, amountCents = 100) => link().purchase(tpa(name) ?? name, { caller: "till-e", amountCents });
    // What a browser adds to a page of another site's requests.
    const foreign = (t) => swapFetch(t, (real) => (url, init) => real(url, { ...init, headers: { ...init.headers, Origin: "https://evilquorva.pt" } }));
    for (const [name, call, Kind, code, messageCode, text] of [
        ["M21 unknown port", () => purchase("/dev/no-such-terminal"), TerminalNotFoundError, "QLK1001", "M21", "TPA not found"],
        ["M22 terminal gone", () => (unlinkSync(tpa("GONE")), purchase("GONE")), TerminalOfflineError, "QLK1001", "M22", "TPA offline or in error state"],
        ["M23 amount", () => purchase("ING", 1e9), InvalidFieldError, "QLK1001", "M23", "Invalid amount"],
        ["M23 reference", () => link().refund(tpa("ING"), { ...refund, reference: "" }), InvalidFieldError, "QLK1001", "M23", "Invalid reference"],
        ["M23 date-time", () => link().refund(tpa("ING"), { ...refund, dateTime: "06/12/2026" }), InvalidFieldError, "QLK1001", "M23", "Invalid date-time"],
        ["M99 from the terminal", () => purchase("TIMEOUT"), TerminalTimeoutError, "QLK1001", "M99", "Operation Timeout"],
        ["401 wrong key", () => link({ key: "not-the-key" }).printers(), UnauthorizedError, null, null, "Invalid security key"],
        ["403 foreign page", (t) => (foreign(t), link().status()), ForbiddenOriginError, null, null, "Origin not allowed"],
        ["printer not found", () => link().print("no-such-printer", receipt().line("x")), PrinterError, null, null, "Printer not found"],
        ["job the printer cannot print", () => link().preview(receipt().barcode({ type: "EAN13", text: "4006381333932" })), PrinterError, null, null, /^Invalid job: operation 0 \(barcode\): wrong check digit/],
    ]) {
        test(name, async (t) => {
            const error = await rejection(call(t));
            is(error, Kind);
            assert.deepEqual([error.code, error.messageCode], [code, messageCode]);
            text instanceof RegExp ? assert.match(error.text, text) : assert.equal(error.text, text);
            if (Kind === ForbiddenOriginError)
                assert.equal(error.httpStatus, 403);
        });
    }

    test("another caller is told busy", async () => {
        const controller = new AbortController();
        let started;
        const begun = new Promise((resolve) => (started = resolve));
        const till = link(); // resume() on the same client: its read left running may be the one that takes the outcome
        const running = rejection(till.purchase(tpa("SLOW"), { caller: "till-a", amountCents: 100, signal: controller.signal, onStatus: () => started() }));
        await begun;
        const busy = await rejection(link().purchase(tpa("SLOW"), { caller: "till-b", amountCents: 100 }));
        is(busy, TerminalBusyError);
        assert.deepEqual([busy.code, busy.messageCode, busy.text], ["QLK1001", "M10", "TPA already busy"]);
        controller.abort();
        is(await running, TransactionPendingError);
        assert.equal((await till.resume(tpa("SLOW"), "till-a")).approved, true);
    });

    test("a request over the connector's limit is refused before it is sent", async () => {
        const pad = (bytes) => ({ pad: "x".repeat(bytes - '{"pad":""}'.length) });
        assert.equal((await link().request("/getStatus", pad(MAX_BODY_BYTES))).data, "Device online");
        is(await rejection(link().request("/getStatus", pad(MAX_BODY_BYTES + 1))), RequestTooLargeError);
        is(await rejection(link().print("any", [{ op: "text", data: "é".repeat(MAX_BODY_BYTES / 2) }])), RequestTooLargeError);
    });

    test("not reachable: nothing listening, or a certificate nobody trusts", async () => {
        const closed = await rejection(link({ baseUrl: `https://localhost:${await freePort()}` }).status());
        is(closed, NotReachableError);
        assert.match(closed.message, /NODE_EXTRA_CA_CERTS=~\/\.config\/Quorva\/QuorvaLink\.crt/);
        // The real connector, from a Node without its certificate.
        const script = `import {QuorvaLink} from ${JSON.stringify(new URL("../../clients/js/src/index.js", import.meta.url).href)};
            new QuorvaLink({key: "k", baseUrl: ${JSON.stringify(env.QLK_JS_BASE)}}).status().then(() => console.log("trusted"), (e) => console.log(e.name, e.cause?.cause?.code, /NODE_EXTRA_CA_CERTS/.test(e.message)));`;
        const { NODE_EXTRA_CA_CERTS, ...untrusted } = env;
        const run = spawnSync(process.execPath, ["--input-type=module", "-e", script], { env: untrusted, encoding: "utf8" });
        assert.match(run.stdout.trim(), /^NotReachableError (DEPTH_ZERO_SELF_SIGNED_CERT|SELF_SIGNED_CERT_IN_CHAIN|UNABLE_TO_VERIFY_LEAF_SIGNATURE) true$/, run.stderr);
    });
});

test("a receipt from the builder prints the expected bytes", { skip: env.QLK_JS_PRINTER ? false : env.QLK_JS_NO_PRINTER }, async () => {
    const job = newJob();
    const built = receipt().align("center").style({ emphasized: true }).line("Pastelaria Aurora").style()
        .qrcode({ text: "QLK", size: 4, errorCorrection: "Q" }).barcode({ type: "EAN8", text: "9638507", height: 50, width: 2, hri: "none" })
        .pulse({ drawer: 1, pulse: 100 }).cut();
    assert.equal(await link().print(env.QLK_JS_PRINTER, built), "Job completed successfully");
    const bytes = (...parts) => Buffer.concat(parts.map((p) => (typeof p === "string" ? Buffer.from(p, "latin1") : Buffer.from(p))));
    const expected = bytes(
        [0x1b, 0x40], [0x1b, 0x61, 1], [0x1b, 0x21, 0x08], [0x1b, 0x74, 0], "Pastelaria Aurora\n", [0x1b, 0x21, 0],
        [0x1d, 0x28, 0x6b, 4, 0, 0x31, 0x41, 0x32, 0], [0x1d, 0x28, 0x6b, 3, 0, 0x31, 0x43, 4], [0x1d, 0x28, 0x6b, 3, 0, 0x31, 0x45, 0x32],
        [0x1d, 0x28, 0x6b, 6, 0, 0x31, 0x50, 0x30], "QLK", [0x1d, 0x28, 0x6b, 3, 0, 0x31, 0x51, 0x30],
        [0x1d, 0x68, 50], [0x1d, 0x77, 2], [0x1d, 0x48, 0], [0x1d, 0x6b, 68, 8], "96385074", // EAN-8 with its check digit 4
        [0x1b, 0x70, 1, 100, 0xfa], [0x1d, 0x56, 0x42, 0x0a],
    );
    assert.equal((await job()).toString("hex"), expected.toString("hex"));
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
    for (const [method, argument, named] of [
        ["align", "toString", '"toString"'], ["align", "constructor", '"constructor"'], ["align", "middle", '"middle"'], ["cut", "partial", '"partial"'], ["cut", true, "true"],
        ["pulse", { drawer: 2 }, "2"], ["pulse", { drawer: "1" }, '"1"'], ["pulse", { pulse: 10 }, "10"], ["pulse", { pulse: 251 }, "251"], ["pulse", { pulse: 50.5 }, "50.5"],
    ])
        assert.throws(() => receipt()[method](argument), (e) => e instanceof TypeError && e.message.endsWith(`not ${named}`), `${method}(${JSON.stringify(argument)})`);
    assert.deepEqual(receipt().align("right").cut("no_feed").pulse({ drawer: 1, pulse: 250 }).build(), [
        { op: "alignment", data: 2 }, { op: "cut", data: "no_feed" }, { op: "pulse", data: { drawer: 1, pulse: 250 } },
    ]);
});
