import {
    DeclinedError,
    ForbiddenOriginError,
    NotReachableError,
    PollTimeoutError,
    PrinterError,
    QuorvaLinkError,
    RequestTimeoutError,
    RequestTooLargeError,
    ResultLostError,
    TerminalBusyError,
    TooManyAttemptsError,
    TransactionPendingError,
    UnauthorizedError,
    UnreadResultError,
    errorFor,
    parseStatus,
} from "./errors.js";
import { isFinal, resultOf } from "./terminalResult.js";

// What the connector answers when another till's transaction runs.
const BUSY = "QLK1001|M10|TPA already busy";
// The connector refuses a request over 4 MiB, headers included; the headers get 8 KiB of it.
export const MAX_BODY_BYTES = 4 * 1024 * 1024 - 8192;

/** 1250 -> "12.50": the connector reads the amount as cents once "." and "," are gone. */
export function amountText(amountCents) {
    if (!Number.isSafeInteger(amountCents) || amountCents < 0)
        throw new TypeError(`amountCents must be a whole number of cents, not ${amountCents}`);
    return `${Math.trunc(amountCents / 100)}.${String(amountCents % 100).padStart(2, "0")}`;
}

/** A Date (local time) or "YYYY-MM-DD hh:mm:ss" -> "YYYY-MM-DD hh:mm:ss". */
export function dateTimeText(dateTime) {
    if (!(dateTime instanceof Date))
        return String(dateTime);
    const two = (n) => String(n).padStart(2, "0");
    return (
        `${dateTime.getFullYear()}-${two(dateTime.getMonth() + 1)}-${two(dateTime.getDate())} ` +
        `${two(dateTime.getHours())}:${two(dateTime.getMinutes())}:${two(dateTime.getSeconds())}`
    );
}

// The connector stores a notification's date only as yyyy-MM-ddTHH:mm:ss (local time):
// anything else, an ISO string with milliseconds or a zone included, is taken as a Date first.
function notificationDate(date) {
    const when = date instanceof Date ? date : new Date(date);
    if (Number.isNaN(when.getTime()))
        throw new TypeError(`a notification's date is a Date or a date text, not ${JSON.stringify(date)}`);
    return dateTimeText(when).replace(" ", "T");
}

function sleep(ms, signal) {
    return new Promise((resolve, reject) => {
        if (signal?.aborted)
            return reject(signal.reason);
        const timer = setTimeout(done, ms);
        function done() {
            signal?.removeEventListener("abort", aborted);
            resolve();
        }
        function aborted() {
            clearTimeout(timer);
            reject(signal.reason);
        }
        signal?.addEventListener("abort", aborted, { once: true });
    });
}

// The caller's signal and a time limit in one signal: fetch has no deadline of its own.
function bounded(signal, ms) {
    const controller = new AbortController();
    const abort = () => controller.abort(signal.reason);
    if (signal?.aborted)
        abort();
    else
        signal?.addEventListener("abort", abort, { once: true });
    const state = { signal: controller.signal, timedOut: false };
    const timer = Number.isFinite(ms)
        ? setTimeout(() => {
              state.timedOut = true;
              controller.abort();
          }, Math.max(0, ms))
        : null;
    state.done = () => {
        clearTimeout(timer);
        signal?.removeEventListener("abort", abort);
    };
    return state;
}

function pngOf(dataUrl) {
    const base64 = String(dataUrl).replace(/^data:image\/png;base64,/, "");
    if (typeof Buffer === "function")
        return Buffer.from(base64, "base64");
    const bytes = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
    return new Blob([bytes], { type: "image/png" });
}

export class QuorvaLink {
    // The transactions this client stopped following, by port and caller: {seen, read}, the
    // messages so far and a read still under way.
    #open = new Map();

    /**
     * @param {object} options
     * @param {string} options.key the security key shown in the connector's window
     * @param {string} [options.baseUrl]
     * @param {number} [options.pollIntervalMs] between two reads of a transaction's messages
     * @param {number} [options.transactionTimeoutMs] longest wait for a transaction's final message
     * @param {number} [options.requestTimeoutMs] longest wait for the answer to one request
     */
    constructor({ key, baseUrl = "https://localhost:5080", pollIntervalMs = 1000, transactionTimeoutMs = 180000, requestTimeoutMs = 60000 } = {}) {
        if (typeof key !== "string" || key === "")
            throw new TypeError("QuorvaLink needs the security key shown in the connector's window");
        this.key = key;
        this.baseUrl = baseUrl.replace(/\/+$/, "");
        this.pollIntervalMs = pollIntervalMs;
        this.transactionTimeoutMs = transactionTimeoutMs;
        this.requestTimeoutMs = requestTimeoutMs;
    }

    /**
     * One request in JSON mode; the answer's envelope. Refusals of the HTTP layer
     * (401, 403, 413, 429), no answer in time and an unreachable connector throw.
     */
    async request(path, fields = {}, { signal, timeoutMs } = {}) {
        const body = JSON.stringify(fields);
        const size = new TextEncoder().encode(body).length;
        if (size > MAX_BODY_BYTES)
            throw new RequestTooLargeError(`${path}: ${size} bytes are over the connector's limit of ${MAX_BODY_BYTES}; nothing was sent`);
        const limit = bounded(signal, timeoutMs ?? this.requestTimeoutMs);
        let answer;
        let text;
        try {
            answer = await fetch(this.baseUrl + path, {
                method: "POST",
                headers: { Authorization: `Bearer ${this.key}`, "Content-Type": "application/json" },
                body,
                signal: limit.signal,
            });
            text = await answer.text();
        } catch (error) {
            if (signal?.aborted)
                throw signal.reason;
            if (limit.timedOut)
                throw new RequestTimeoutError(`${path}: no answer from Quorva Link at ${this.baseUrl} in time; it may still have done it`, { cause: error });
            // Browsers tell a refused connection and an untrusted certificate apart to nobody.
            throw new NotReachableError(this.baseUrl, error);
        } finally {
            limit.done();
        }
        const status = answer.status;
        // Refusals of the transport are plain text ("413 Entity too large").
        if (status === 413)
            throw new RequestTooLargeError(`${path}: the connector refused the request as too large`, { text: text.trim(), httpStatus: status });
        let envelope;
        try {
            envelope = JSON.parse(text);
        } catch (error) {
            throw new QuorvaLinkError(`Unreadable answer from ${path} (HTTP ${status}): ${text.slice(0, 100)}`, { text: text.trim(), httpStatus: status, cause: error });
        }
        const reason = typeof envelope?.error === "string" ? envelope.error : `HTTP ${status}`;
        const details = { text: reason, httpStatus: status };
        if (status === 401)
            throw new UnauthorizedError(reason, details);
        if (status === 403)
            throw new ForbiddenOriginError(reason, details);
        if (status === 429)
            throw new TooManyAttemptsError(reason, details, Number(answer.headers.get("Retry-After")) || 0);
        if (status !== 200 || typeof envelope !== "object" || envelope === null)
            throw new QuorvaLinkError(`${path}: ${reason}`, details);
        return envelope;
    }

    // The envelope's data, or the refusal as an error of its kind.
    async data(path, fields, options, fallback = QuorvaLinkError) {
        const envelope = await this.request(path, fields, options);
        if (envelope.status !== true)
            throw errorFor(envelope.error ?? envelope.data, 200, fallback);
        return envelope.data;
    }

    /** "Device online" while the connector serves. */
    status(options) {
        return this.data("/getStatus", {}, options);
    }

    /** The names of the printers switched on in the connector. */
    printers(options) {
        return this.data("/getPrinters", {}, options);
    }

    /** true when the printer is ready, false when it is stopped or in error. */
    printerStatus(name, options) {
        return this.data("/getPrinterStatus", { printer: name }, options, PrinterError);
    }

    /** Prints a job (an array of operations, or a receipt() builder). */
    print(name, job, options) {
        return this.data("/sendJob", { printer: name, job: jobArray(job) }, options, PrinterError);
    }

    /**
     * The picture of what the job would print: a Buffer in Node, a Blob in browsers.
     * compatibilityMode: true or false renders as that mode, absent as the connector is set.
     */
    async preview(job, { compatibilityMode, ...options } = {}) {
        const fields = { job: jobArray(job) };
        if (typeof compatibilityMode === "boolean")
            fields.compatibilityMode = compatibilityMode;
        return pngOf(await this.data("/previewJob", fields, options, PrinterError));
    }

    /** Sends a notification to the connector's other clients. */
    notify({ requestId, terminalId, statusId, title, subtitle, lastModifiedBy = "", date = new Date() }, options) {
        const fields = {
            request_id: requestId,
            terminal_id: terminalId,
            status_id: statusId,
            title,
            subtitle,
            lastModifiedBy,
            date: notificationDate(date),
        };
        return this.data("/setNotificationOrder", fields, options);
    }

    /** The notifications the connector holds, oldest first. */
    async notifications(options) {
        const envelope = await this.request("/getStatus", { with_notifications: 1 }, options);
        return envelope.notifications ?? [];
    }

    /** The terminals on this computer: [{portName, description, manufacturer, vendorId, ...}]. */
    terminals(options) {
        return this.data("/getTpas", {}, options);
    }

    /**
     * A purchase on the terminal at port: resolves with {approved: true, message, responseCode, messages}
     * once the terminal approves; a decline rejects with DeclinedError.
     */
    purchase(port, { caller, amountCents, ...options }) {
        const fields = { amount: amountText(amountCents) };
        return this.transaction("purchase", "/sendTpaPurchase", port, caller, fields, options);
    }

    /** A refund of the purchase with reference (the terminal's purchase reference) made at dateTime; as purchase(). */
    refund(port, { caller, amountCents, reference, dateTime, ...options }) {
        const fields = { amount: amountText(amountCents), tpa_id: String(reference), datetime: dateTimeText(dateTime) };
        return this.transaction("refund", "/sendTpaRefund", port, caller, fields, options);
    }

    /**
     * Collects the outcome of a transaction of caller at port that this client stopped following
     * (TransactionPendingError) or that was found unread (UnreadResultError with no result).
     */
    resume(port, caller, options = {}) {
        checkCaller(caller);
        const key = `${port}\n${caller}`;
        const deadline = Date.now() + (options.timeoutMs ?? this.transactionTimeoutMs);
        return this.#follow("transaction", port, caller, this.#open.get(key), this.#open.has(key), options, deadline);
    }

    // Reads the caller's list first: an earlier transaction's outcome nobody read must
    // not be cleared away by this one. Then sends the command and follows it.
    async transaction(kind, path, port, caller, fields, options = {}) {
        checkCaller(caller);
        const terminal = { tpa_port: port, terminal_tpa_id: caller };
        const deadline = Date.now() + (options.timeoutMs ?? this.transactionTimeoutMs);
        const limits = () => ({ signal: options.signal, timeoutMs: Math.min(this.requestTimeoutMs, deadline - Date.now()) });
        // While no transaction of this caller runs, reading takes the messages; while one runs, it lists them.
        const unread = await this.data("/getTpaTransactionStatus", terminal, limits());
        if (unread.length > 0) {
            const ended = isFinal(unread[unread.length - 1]);
            if (!ended)
                this.#open.set(`${port}\n${caller}`, { seen: unread });
            const what = ended ? `ended with "${unread[unread.length - 1]}"` : "still runs; resume(port, caller) collects it";
            throw new UnreadResultError(`An earlier transaction of ${caller} at ${port} that nobody read ${what}; no ${kind} was sent`, {
                port,
                caller,
                messages: unread,
                result: ended ? resultOf(unread) : null,
            });
        }
        this.#open.delete(`${port}\n${caller}`); // whatever was left to resume has been read
        let sent;
        try {
            sent = await this.data(path, { ...terminal, ...fields }, limits());
        } catch (error) {
            // The command may have reached the terminal before the answer was lost.
            if (error instanceof RequestTimeoutError || options.signal?.aborted) {
                this.#open.set(`${port}\n${caller}`, { seen: [] });
                const message = `The ${kind} at ${port} (caller ${caller}) may have started and may still complete; resume(port, caller) collects its outcome`;
                // The caller's own time limit cut the sending short: that is the limit's error.
                const Kind = !options.signal?.aborted && Date.now() >= deadline ? PollTimeoutError : TransactionPendingError;
                throw new Kind(message, { port, caller, cause: error });
            }
            throw error;
        }
        if (sent === BUSY)
            throw errorFor(sent);
        return this.#follow(kind, port, caller, undefined, true, options, deadline);
    }

    // Reads the caller's messages until the terminal's final one. While the transaction
    // runs each read returns the list so far; once it is over one read returns the whole
    // list (taking it) and the next ones none. starting: an empty list means not begun yet.
    // A read is never cut off: the connector would still take the list for an answer
    // nobody reads. One still running when this stops waiting is kept for resume().
    async #follow(kind, port, caller, { seen = [], read = null } = {}, starting, { signal, onStatus, pollIntervalMs }, deadline) {
        const interval = pollIntervalMs ?? this.pollIntervalMs;
        const terminal = { tpa_port: port, terminal_tpa_id: caller };
        const key = `${port}\n${caller}`;
        const pending = (Kind, why, cause) => {
            read?.catch(() => {}); // settled later, perhaps by resume()
            this.#open.set(key, { seen, read });
            const message = `${why}: the ${kind} at ${port} (caller ${caller}) may still complete; resume(port, caller) collects its outcome`;
            return new Kind(message, { port, caller, messages: seen, cause });
        };
        const lost = (why) => {
            this.#open.delete(key);
            return new ResultLostError(`The ${kind} at ${port} (caller ${caller}): ${why}`, { port, caller, messages: seen });
        };
        let wait = interval;
        for (;;) {
            if (!read) {
                try {
                    await sleep(wait, signal);
                } catch (reason) {
                    throw pending(TransactionPendingError, "Stopped waiting", reason);
                }
                wait = interval;
                if (Date.now() > deadline)
                    throw pending(PollTimeoutError, "No final message in time");
                read = this.data("/getTpaTransactionStatus", terminal, { timeoutMs: Infinity });
            }
            let list;
            try {
                list = await within(read, signal, deadline - Date.now());
            } catch (error) {
                if (error === LATE)
                    throw pending(PollTimeoutError, "No final message in time");
                if (error === STOPPED)
                    throw pending(TransactionPendingError, "Stopped waiting", signal.reason);
                read = null;
                // The payment goes on while this computer is shut out for wrong keys: wait that out.
                if (error instanceof TooManyAttemptsError) {
                    wait = Math.max(interval, error.retryAfter * 1000);
                    continue;
                }
                throw pending(TransactionPendingError, `Could not read its messages (${error.message})`, error);
            }
            read = null;
            if (list.length === 0) {
                if (seen.length === 0 && starting)
                    continue;
                if (seen.length === 0)
                    throw lost("nothing to collect");
                if (!isFinal(seen[seen.length - 1]))
                    throw lost("its messages were taken before the terminal's result (another reader with the same caller?)");
                this.#open.delete(key);
                return settle(kind, port, caller, resultOf(seen));
            }
            // Its own list only grows: a shorter or different one is another transaction's.
            if (list.length < seen.length || seen.some((message, i) => list[i] !== message))
                throw lost("its messages were replaced by another transaction's (another reader with the same caller?)");
            for (const message of list.slice(seen.length))
                onStatus?.(message);
            seen = list;
        }
    }
}

const LATE = Symbol("late");
const STOPPED = Symbol("stopped");

// The promise's outcome, or LATE after ms, or STOPPED once the signal aborts; the promise runs on.
function within(promise, signal, ms) {
    return new Promise((resolve, reject) => {
        const timer = setTimeout(() => finish(reject, LATE), Math.max(0, ms));
        const stopped = () => finish(reject, STOPPED);
        function finish(settle, value) {
            clearTimeout(timer);
            signal?.removeEventListener("abort", stopped);
            settle(value);
        }
        if (signal?.aborted)
            return stopped();
        signal?.addEventListener("abort", stopped, { once: true });
        promise.then((value) => finish(resolve, value), (error) => finish(reject, error));
    });
}

// The outcome: resolved when approved; the connector's M99/M10 and declines reject.
function settle(kind, port, caller, result) {
    const status = parseStatus(result.message);
    if (status) {
        const error = errorFor(result.message);
        Object.assign(error, { port, caller, messages: result.messages });
        throw error;
    }
    if (!result.approved)
        throw new DeclinedError(`The terminal did not approve the ${kind} at ${port}: ${result.message}`, { port, caller, messages: result.messages, result });
    return result;
}

function checkCaller(caller) {
    if (typeof caller !== "string" || caller === "")
        throw new TypeError("a transaction needs the caller's own identifier (caller)");
}

function jobArray(job) {
    const array = typeof job?.build === "function" ? job.build() : job;
    if (!Array.isArray(array))
        throw new TypeError("a job is an array of operations or a receipt() builder");
    return array;
}
