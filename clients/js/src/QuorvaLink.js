import {
    ForbiddenOriginError,
    NotReachableError,
    PollTimeoutError,
    PrinterError,
    QuorvaLinkError,
    TerminalBusyError,
    TerminalTimeoutError,
    TooManyAttemptsError,
    UnauthorizedError,
    errorFor,
    parseStatus,
} from "./errors.js";

// What the connector answers when another till's transaction runs.
const BUSY = "QLK1001|M10|TPA already busy";

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

function pngOf(dataUrl) {
    const base64 = String(dataUrl).replace(/^data:image\/png;base64,/, "");
    if (typeof Buffer === "function")
        return Buffer.from(base64, "base64");
    const bytes = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
    return new Blob([bytes], { type: "image/png" });
}

export class QuorvaLink {
    /**
     * @param {object} options
     * @param {string} options.key the security key shown in the connector's window
     * @param {string} [options.baseUrl]
     * @param {number} [options.pollIntervalMs] between two reads of a transaction's messages
     * @param {number} [options.transactionTimeoutMs] longest wait for a transaction's final message
     */
    constructor({ key, baseUrl = "https://localhost:5080", pollIntervalMs = 1000, transactionTimeoutMs = 180000 } = {}) {
        if (typeof key !== "string" || key === "")
            throw new TypeError("QuorvaLink needs the security key shown in the connector's window");
        this.key = key;
        this.baseUrl = baseUrl.replace(/\/+$/, "");
        this.pollIntervalMs = pollIntervalMs;
        this.transactionTimeoutMs = transactionTimeoutMs;
    }

    /**
     * One request in JSON mode; the answer's envelope. Refusals of the HTTP layer
     * (401, 403, 429) and an unreachable connector throw.
     */
    async request(path, fields = {}, { signal } = {}) {
        let answer;
        try {
            answer = await fetch(this.baseUrl + path, {
                method: "POST",
                headers: { Authorization: `Bearer ${this.key}`, "Content-Type": "application/json" },
                body: JSON.stringify(fields),
                signal,
            });
        } catch (error) {
            if (signal?.aborted)
                throw signal.reason;
            // Browsers tell a refused connection and an untrusted certificate apart to nobody.
            throw new NotReachableError(this.baseUrl, error);
        }
        let envelope;
        try {
            envelope = await answer.json();
        } catch (error) {
            if (signal?.aborted)
                throw signal.reason;
            throw new QuorvaLinkError(`Unreadable answer from ${path} (HTTP ${answer.status})`, {
                httpStatus: answer.status,
                cause: error,
            });
        }
        const text = typeof envelope?.error === "string" ? envelope.error : `HTTP ${answer.status}`;
        const details = { text, httpStatus: answer.status };
        if (answer.status === 401)
            throw new UnauthorizedError(text, details);
        if (answer.status === 403)
            throw new ForbiddenOriginError(text, details);
        if (answer.status === 429)
            throw new TooManyAttemptsError(text, details, Number(answer.headers.get("Retry-After")) || 0);
        if (answer.status !== 200 || typeof envelope !== "object" || envelope === null)
            throw new QuorvaLinkError(`${path}: ${text}`, details);
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
    async preview(job, { compatibilityMode, signal } = {}) {
        const fields = { job: jobArray(job) };
        if (typeof compatibilityMode === "boolean")
            fields.compatibilityMode = compatibilityMode;
        return pngOf(await this.data("/previewJob", fields, { signal }, PrinterError));
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
            date: dateTimeText(date).replace(" ", "T"),
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
     * A purchase on the terminal at port: resolves with the terminal's final message.
     * @param {string} port as terminals() lists it
     * @param {{caller: string, amountCents: number, signal?: AbortSignal, onStatus?: (message: string) => void}} options
     */
    purchase(port, { caller, amountCents, ...options }) {
        const fields = { amount: amountText(amountCents) };
        return this.transaction("/sendTpaPurchase", port, caller, fields, options);
    }

    /**
     * A refund of the purchase with reference (the terminal's purchase reference) made at dateTime.
     * @param {{caller: string, amountCents: number, reference: string, dateTime: Date|string,
     *          signal?: AbortSignal, onStatus?: (message: string) => void}} options
     */
    refund(port, { caller, amountCents, reference, dateTime, ...options }) {
        const fields = { amount: amountText(amountCents), tpa_id: String(reference), datetime: dateTimeText(dateTime) };
        return this.transaction("/sendTpaRefund", port, caller, fields, options);
    }

    // Sends the command, then reads the caller's messages until the terminal's
    // final one. While the transaction runs each read returns the list so far;
    // once it is over one read returns the whole list and the next ones none.
    async transaction(path, port, caller, fields, { signal, onStatus, pollIntervalMs, timeoutMs } = {}) {
        if (typeof caller !== "string" || caller === "")
            throw new TypeError("a transaction needs the caller's own identifier (caller)");
        const interval = pollIntervalMs ?? this.pollIntervalMs;
        const terminal = { tpa_port: port, terminal_tpa_id: caller };
        const options = { signal };
        // Messages of an earlier transaction that nobody read would look like this one's.
        await this.data("/clearTpaTransactionStatus", terminal, options);
        const sent = await this.data(path, { ...terminal, ...fields }, options);
        if (sent === BUSY)
            throw errorFor(sent);

        const deadline = Date.now() + (timeoutMs ?? this.transactionTimeoutMs);
        let messages = [];
        for (;;) {
            await sleep(interval, signal);
            const list = await this.data("/getTpaTransactionStatus", terminal, options);
            if (list.length === 0 && messages.length > 0)
                break;
            for (const message of list.slice(messages.length))
                onStatus?.(message);
            if (list.length > 0)
                messages = list;
            if (Date.now() > deadline)
                throw new PollTimeoutError(`No final message from the terminal at ${port} in time`);
        }
        const final = messages[messages.length - 1];
        const parsed = parseStatus(final);
        if (parsed?.messageCode === "M99")
            throw new TerminalTimeoutError(final, parsed);
        if (parsed?.code === "QLK1001" && parsed.messageCode === "M10")
            throw new TerminalBusyError(final, parsed);
        return final;
    }
}

function jobArray(job) {
    const array = typeof job?.build === "function" ? job.build() : job;
    if (!Array.isArray(array))
        throw new TypeError("a job is an array of operations or a receipt() builder");
    return array;
}
