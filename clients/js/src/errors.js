// Errors of the connector's answers, one class per kind a till can act on.
// Status strings ("QLK1001|M21|TPA not found") are split into code,
// messageCode and text; other errors keep their text and have no codes.

export const HELP = '"When the connector cannot be reached" in the README of @quorva/link';

// Node runs no page: its fetch trusts what NODE_EXTRA_CA_CERTS names, and no origin is checked.
const inNode = typeof process === "object" && typeof process.versions?.node === "string";

/** Any refusal of the connector; httpStatus is the HTTP status of the answer (0 when there was none). */
export class QuorvaLinkError extends Error {
    constructor(message, { code = null, messageCode = null, text = message, httpStatus = 0, cause } = {}) {
        super(message, cause === undefined ? undefined : { cause });
        this.name = new.target.name;
        this.code = code;
        this.messageCode = messageCode;
        this.text = text;
        this.httpStatus = httpStatus;
    }
}

function unreachableHint() {
    if (inNode)
        return (
            "it is not running, or this Node.js does not trust its certificate. Start Quorva Link, and start Node with " +
            "NODE_EXTRA_CA_CERTS=~/.config/Quorva/QuorvaLink.crt (the connector's certificate)"
        );
    // A refused origin's 403 carries no CORS headers, so the page cannot see it either.
    const origin = globalThis.location?.origin;
    return (
        "it is not running, this browser does not trust its certificate, or it does not serve pages of " +
        `${origin ?? "this page's origin"}. Start Quorva Link, then in its window click "Sobre" and ` +
        '"Confiar no certificado" (or run "quorva-link --trust-certificate") and restart the browser'
    );
}

/** The connector is not running, its certificate is not trusted, or (in browsers) the page's origin is refused. */
export class NotReachableError extends QuorvaLinkError {
    constructor(baseUrl, cause) {
        super(`Quorva Link is not reachable at ${baseUrl}: ${unreachableHint()}; see ${HELP}`, { cause });
        this.baseUrl = baseUrl;
    }
}

/** 401: the security key is wrong or missing. */
export class UnauthorizedError extends QuorvaLinkError {}
/** 403: the page's origin is not one the connector serves (seen in Node only: browsers hide it). */
export class ForbiddenOriginError extends QuorvaLinkError {}
/** 429: too many wrong keys from this computer; retryAfter is in seconds. */
export class TooManyAttemptsError extends QuorvaLinkError {
    constructor(message, details, retryAfter) {
        super(message, details);
        this.retryAfter = retryAfter;
    }
}
/** The request is over the connector's limit (4 MiB with its headers); nothing was sent, or it was refused whole. */
export class RequestTooLargeError extends QuorvaLinkError {}
/** No answer within the time limit: the connector stopped answering. What was asked may still have been done. */
export class RequestTimeoutError extends QuorvaLinkError {}
/** A printer refused: not found, offline, or the job cannot print ("Invalid job: ..."). */
export class PrinterError extends QuorvaLinkError {}
/** M21: no enabled terminal on that port. */
export class TerminalNotFoundError extends QuorvaLinkError {}
/** M22: the terminal's port is gone. */
export class TerminalOfflineError extends QuorvaLinkError {}
/** M23: a field the terminal cannot carry (amount, reference, date-time, caller); nothing was sent. */
export class InvalidFieldError extends QuorvaLinkError {}
/** M10: another transaction runs on the terminal. */
export class TerminalBusyError extends QuorvaLinkError {}
/** M99: the terminal did not answer in time; the outcome is unknown. */
export class TerminalTimeoutError extends QuorvaLinkError {}

// Errors of one caller's transaction: each holds the port, the caller and the messages read.
export class TransactionError extends QuorvaLinkError {
    constructor(message, { port, caller, messages = [], result = null, cause } = {}) {
        super(message, { cause });
        this.port = port;
        this.caller = caller;
        this.messages = messages;
        this.result = result;
    }
}

/** The terminal declined: result.approved is false, result.message the terminal's final message. */
export class DeclinedError extends TransactionError {}
/**
 * The client stopped following a transaction that the terminal may still complete (abort, the
 * connector unreachable): collect its result with resume(port, caller) before that caller starts another.
 */
export class TransactionPendingError extends TransactionError {}
/** No final message within the client's own time limit; the terminal may still complete it. */
export class PollTimeoutError extends TransactionPendingError {}
/**
 * The caller's list held an earlier transaction nobody had read: result is its outcome when it has
 * ended (its messages are now taken), else null and resume(port, caller) follows it. Nothing was sent.
 */
export class UnreadResultError extends TransactionError {}
/** The messages ended without the terminal's result: another reader with the same caller took them. */
export class ResultLostError extends TransactionError {}

const byMessageCode = {
    M10: TerminalBusyError,
    M21: TerminalNotFoundError,
    M22: TerminalOfflineError,
    M23: InvalidFieldError,
    M99: TerminalTimeoutError,
};

/** "QLK1001|M21|TPA not found" -> {code, messageCode, text}; null when it is no status string. */
export function parseStatus(status) {
    const match = /^(QLK\d{4})\|(M\w{2})\|(.*)$/s.exec(typeof status === "string" ? status : "");
    return match ? { code: match[1], messageCode: match[2], text: match[3] } : null;
}

/** The error for a refusal text of the connector; fallback for what is not a status string. */
export function errorFor(text, httpStatus = 200, fallback = QuorvaLinkError) {
    const parsed = parseStatus(text);
    const Kind = (parsed && byMessageCode[parsed.messageCode]) || fallback;
    return new Kind(String(text), { ...(parsed ?? { text: String(text) }), httpStatus });
}
