// Types of @quorva/link.

export type Operation =
    | { op: "settings"; data: Settings }
    | { op: "alignment"; data: 0 | 1 | 2 }
    | { op: "text"; data: string }
    | { op: "double"; data: { width?: boolean; height?: boolean } }
    | { op: "condensed"; data: boolean }
    | { op: "style"; data: { emphasized?: boolean; underlined?: boolean } }
    | { op: "image"; data: string }
    | { op: "qrcode"; data: QrCode }
    | { op: "barcode"; data: Barcode }
    | { op: "cut"; data: "feed" | "no_feed" }
    | { op: "pulse"; data: { drawer?: 0 | 1; pulse?: number } };
export type Job = Operation[];

export interface Settings {
    normalLineWidth?: number;
    condensedLineWidth?: number;
    dotWidth?: number;
    hasCutter?: boolean;
    hasDrawer?: boolean;
    lowDensity?: boolean;
    imagePrintMode?: number;
    alternativeCharset?: boolean;
    replaceAccentedChars?: boolean;
}
export interface QrCode {
    text: string;
    size?: number;
    errorCorrection?: "L" | "M" | "Q" | "H";
    native?: boolean;
}
export interface Barcode {
    type: "CODE128" | "EAN13" | "EAN8" | "UPCA" | "CODE39" | "ITF";
    text: string;
    height?: number;
    width?: number;
    hri?: "none" | "above" | "below" | "both";
    native?: boolean;
}

export class Receipt {
    settings(settings: Settings): this;
    align(alignment: "left" | "center" | "right"): this;
    text(text: string): this;
    line(text?: string): this;
    double(size?: { width?: boolean; height?: boolean }): this;
    condensed(on?: boolean): this;
    style(style?: { emphasized?: boolean; underlined?: boolean }): this;
    image(source: string): this;
    qrcode(code: QrCode): this;
    barcode(code: Barcode): this;
    cut(mode?: "feed" | "no_feed"): this;
    pulse(pulse?: { drawer?: 0 | 1; pulse?: number }): this;
    build(): Job;
    toJSON(): Job;
}
export function receipt(): Receipt;

export interface Terminal {
    description: string;
    manufacturer: string;
    portName: string;
    productIdentifier: number;
    vendorIdentifier: number;
    /** 1 Ingenico, 2 Newnote */
    vendorId: number;
}
export interface Notification {
    request_id: number;
    terminal_id: number;
    status_id: number;
    title: string;
    subtitle: string;
    lastModifiedBy: string;
    /** yyyy-MM-ddTHH:mm:ss, local time */
    date: string;
}
export interface RequestOptions {
    signal?: AbortSignal;
    /** Longest wait for the answer (default: the constructor's requestTimeoutMs); then RequestTimeoutError. */
    timeoutMs?: number;
}
export interface FollowOptions {
    signal?: AbortSignal;
    /** Sees each message of the terminal as it comes, the final one included. */
    onStatus?: (message: string) => void;
    pollIntervalMs?: number;
    /** Longest wait for the final message (default: the constructor's transactionTimeoutMs). */
    timeoutMs?: number;
}
export interface TransactionOptions extends FollowOptions {
    /** The caller's own identifier, under which the connector keeps its messages apart. */
    caller: string;
    amountCents: number;
}
export interface RefundOptions extends TransactionOptions {
    /** The terminal's reference of the purchase to refund. */
    reference: string;
    /** When the purchase was made: a Date (local time) or "YYYY-MM-DD hh:mm:ss". */
    dateTime: Date | string;
}
/** A transaction's outcome, from the terminal's final message. */
export interface TransactionResult {
    /** true only for an approved purchase or refund (Ingenico P151/P161, Newnote C000/C002, response "00"). */
    approved: boolean;
    /** The terminal's final message, e.g. "P1510000001250" or "C00005RECUSADO". */
    message: string;
    /** The two characters after the message code: "00" success, others the terminal's refusal; null for the connector's own strings. */
    responseCode: string | null;
    /** Every message of the transaction, oldest first. */
    messages: string[];
}

/** Requests are refused above this many bytes of JSON body. */
export const MAX_BODY_BYTES: number;

export class QuorvaLink {
    constructor(options: {
        key: string;
        baseUrl?: string;
        pollIntervalMs?: number;
        /** Longest wait for a transaction's final message, 180000 by default. */
        transactionTimeoutMs?: number;
        /** Longest wait for the answer to one request, 60000 by default. */
        requestTimeoutMs?: number;
    });
    readonly key: string;
    readonly baseUrl: string;
    request(path: string, fields?: object, options?: RequestOptions): Promise<Record<string, unknown>>;
    status(options?: RequestOptions): Promise<string>;
    printers(options?: RequestOptions): Promise<string[]>;
    printerStatus(name: string, options?: RequestOptions): Promise<boolean>;
    print(name: string, job: Job | Receipt, options?: RequestOptions): Promise<string>;
    /** The PNG: a Buffer in Node, a Blob in browsers. */
    preview(job: Job | Receipt, options?: RequestOptions & { compatibilityMode?: boolean }): Promise<Blob | Uint8Array>;
    notify(
        notification: {
            requestId: number;
            terminalId: number;
            statusId: number;
            title: string;
            subtitle: string;
            lastModifiedBy?: string;
            /** A Date, or a text Date can read; sent as local yyyy-MM-ddTHH:mm:ss. */
            date?: Date | string;
        },
        options?: RequestOptions,
    ): Promise<string>;
    notifications(options?: RequestOptions): Promise<Notification[]>;
    terminals(options?: RequestOptions): Promise<Terminal[]>;
    /** Resolves once the terminal approves; a decline rejects with DeclinedError. */
    purchase(port: string, options: TransactionOptions): Promise<TransactionResult>;
    refund(port: string, options: RefundOptions): Promise<TransactionResult>;
    /** Collects the outcome of a transaction left by TransactionPendingError or UnreadResultError (result null). */
    resume(port: string, caller: string, options?: FollowOptions): Promise<TransactionResult>;
}
export function amountText(amountCents: number): string;
export function dateTimeText(dateTime: Date | string): string;

export function parseStatus(status: string): { code: string; messageCode: string; text: string } | null;
/** The error of the kind a refusal text stands for (M21, M23, ...); fallback for other texts. */
export function errorFor(text: string, httpStatus?: number, fallback?: typeof QuorvaLinkError): QuorvaLinkError;
/** Where the README tells what to do when the connector cannot be reached. */
export const HELP: string;

export class QuorvaLinkError extends Error {
    /** "QLK1001" for status strings, else null. */
    readonly code: string | null;
    /** "M21", "M99", ... for status strings, else null. */
    readonly messageCode: string | null;
    readonly text: string;
    readonly httpStatus: number;
}
export class NotReachableError extends QuorvaLinkError {
    readonly baseUrl: string;
}
export class UnauthorizedError extends QuorvaLinkError {}
export class ForbiddenOriginError extends QuorvaLinkError {}
export class TooManyAttemptsError extends QuorvaLinkError {
    readonly retryAfter: number;
}
export class RequestTooLargeError extends QuorvaLinkError {}
export class RequestTimeoutError extends QuorvaLinkError {}
export class PrinterError extends QuorvaLinkError {}
export class TerminalNotFoundError extends QuorvaLinkError {}
export class TerminalOfflineError extends QuorvaLinkError {}
export class InvalidFieldError extends QuorvaLinkError {}
export class TerminalBusyError extends QuorvaLinkError {}
export class TerminalTimeoutError extends QuorvaLinkError {}
export class TransactionError extends QuorvaLinkError {
    readonly port: string;
    readonly caller: string;
    /** The messages read from the terminal. */
    readonly messages: string[];
    /** The outcome, when the transaction has ended. */
    readonly result: TransactionResult | null;
}
export class DeclinedError extends TransactionError {
    readonly result: TransactionResult;
}
export class TransactionPendingError extends TransactionError {}
export class PollTimeoutError extends TransactionPendingError {}
export class UnreadResultError extends TransactionError {}
export class ResultLostError extends TransactionError {}
