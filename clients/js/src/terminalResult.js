// What a terminal's messages mean: which one ends a transaction, and whether
// that end approved it. Both families put a two-character response code
// after the four-character message code; "00" is success.
//   Ingenico: purchase P151 (approved "P15100" + amount), refund P161; declines
//             P251/P261 ("P25105"); the other finals end open, close and the menu.
//   Newnote:  purchase C000 ("C00000APROVADO..."; declined "C00005RECUSADO"), refund C002.

import { parseStatus } from "./errors.js";

const FINAL_CODES = new Set([
    // Ingenico
    "P101", "P102", "P001", "P142", "P042", "P051", "P151", "P251", "P155", "P061", "P161", "P261", "M005",
    // Newnote
    "S000", "S001", "C000", "C002",
]);
// The codes that carry a purchase's or a refund's success; any other final message is no payment.
const APPROVING_CODES = new Set(["P151", "P161", "C000", "C002"]);

/** Whether the message ends a transaction: a terminal's result, its error, or the connector's M10/M99. */
export function isFinal(message) {
    const status = parseStatus(message);
    if (status)
        return status.code === "QLK1001" && (status.messageCode === "M99" || status.messageCode === "M10");
    const text = String(message);
    return FINAL_CODES.has(text.slice(0, 4)) || text.startsWith("M00E001");
}

/** The outcome of a transaction whose last message is final: {approved, message, responseCode, messages}. */
export function resultOf(messages) {
    const message = messages[messages.length - 1];
    const code = message.slice(0, 4);
    const responseCode = parseStatus(message) ? null : message.slice(4, 6);
    return { approved: APPROVING_CODES.has(code) && responseCode === "00", message, responseCode, messages: [...messages] };
}
