export { MAX_BODY_BYTES, QuorvaLink, amountText, dateTimeText } from "./QuorvaLink.js";
export { Receipt, receipt } from "./receipt.js";
export * from "./errors.js";
