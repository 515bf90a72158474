// Errors of the connector's answers, one class per kind a till can act on.
// Status strings ("QLK1001|M21|TPA not found") are split into code,
// messageCode and text; other errors keep their text and have no codes.

export const HELP = '"When the connector cannot be reached" in the README of @quorva/link';

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

/** The connector is not running, or the browser does not trust its certificate. */
export class NotReachableError extends QuorvaLinkError {
    constructor(baseUrl, cause) {
        super(
            `Quorva Link is not reachable at ${baseUrl}: it is not running, or this browser does not trust its ` +
                `certificate. Start Quorva Link, then in its window click "Sobre" and "Confiar no certificado" ` +
                `(or run "quorva-link --trust-certificate") and restart the browser; see ${HELP}`,
            { cause },
        );
        this.baseUrl = baseUrl;
    }
}

/** 401: the security key is wrong or missing. */
export class UnauthorizedError extends QuorvaLinkError {}
/** 403: the page's origin is not one the connector serves. */
export class ForbiddenOriginError extends QuorvaLinkError {}
/** 429: too many wrong keys from this computer; retryAfter is in seconds. */
export class TooManyAttemptsError extends QuorvaLinkError {
    constructor(message, details, retryAfter) {
        super(message, details);
        this.retryAfter = retryAfter;
    }
}
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
/** M99: the terminal did not answer in time. */
export class TerminalTimeoutError extends QuorvaLinkError {}
/** The transaction had no final message within the client's own time limit. */
export class PollTimeoutError extends QuorvaLinkError {}

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

/** The error for a refusal text of the connector; Error for what is not a status string. */
export function errorFor(text, httpStatus = 200, fallback = QuorvaLinkError) {
    const parsed = parseStatus(text);
    const Kind = (parsed && byMessageCode[parsed.messageCode]) || fallback;
    return new Kind(String(text), { ...(parsed ?? { text: String(text) }), httpStatus });
}
