// What the test files share with run.mjs, which starts the real parts they run against.
import { once } from "node:events";
import { readdirSync, readFileSync } from "node:fs";
import { createServer } from "node:net";
import { join } from "node:path";
import { setTimeout as sleep } from "node:timers/promises";

export async function waitFor(check, timeoutMs, what) {
    for (let deadline = Date.now() + timeoutMs, last; ; await sleep(100)) {
        const value = await (async () => check())().catch((error) => void (last = String(error))); // not yet; said if it stays so
        if (value)
            return value;
        if (Date.now() > deadline)
            throw new Error(`timed out waiting for ${what} (last: ${last ?? "not yet"})`);
    }
}

export async function freePort() {
    const server = createServer().listen(0, "127.0.0.1");
    await once(server, "listening");
    const { port } = server.address();
    server.close();
    return port;
}

// The jobs the capture printer wrote to folder (job-NNNNNN.bin, one per connection), oldest first.
export const capturedJobs = (folder) => readdirSync(folder).filter((name) => name.endsWith(".bin")).sort().map((name) => readFileSync(join(folder, name)));

// Waits for the first job the capture printer receives after this call.
export function newJob(folder = process.env.QLK_JS_CAPTURE) {
    const before = capturedJobs(folder).length;
    return () => waitFor(() => capturedJobs(folder)[before], 30000, "the job at the printer");
}
