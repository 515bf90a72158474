// Exits 0 once the connector at QLK_JS_BASE serves and lists every simulated terminal and the capture printer.
import { QuorvaLink } from "../../clients/js/src/index.js";
import { waitFor } from "./rig.mjs";

const { QLK_JS_KEY: key, QLK_JS_BASE: baseUrl, QLK_JS_PRINTER: printer } = process.env;
const link = new QuorvaLink({ key, baseUrl });
const ports = Object.entries(process.env).filter(([name]) => name.startsWith("QLK_JS_TPA_")).map(([, path]) => path);
await waitFor(async () => {
    const [listed, printers] = [(await link.terminals()).map((t) => t.portName), await link.printers()];
    if (ports.every((p) => listed.includes(p)) && (!printer || printers.includes(printer)))
        return true;
    throw new Error(`listed terminals ${JSON.stringify(listed)}, printers ${JSON.stringify(printers)}`);
}, 60000, "the connector to list the terminals and the printer"); // generous: the machine may be busy
