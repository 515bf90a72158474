// Walks every operation of docs/openapi.yaml against the running connector: each request example (JSON and form),
// and each operation with a wrong key and from a foreign origin; every answer must be one the description lists for
// that operation, valid against its schema and headers. Also lints the description.

import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { readFileSync } from "node:fs";
import { request } from "node:https";
import { dirname, join } from "node:path";
import { test } from "node:test";
import { fileURLToPath } from "node:url";
import Ajv2020 from "ajv/dist/2020.js";
import { parse } from "yaml";
import { waitFor } from "./rig.mjs";

const here = dirname(fileURLToPath(import.meta.url));
const docs = join(here, "..", "..", "docs");
const doc = parse(readFileSync(join(docs, "openapi.yaml"), "utf8"));
const env = process.env;

const ajv = new Ajv2020({ strict: false, allErrors: true, validateSchema: false });
ajv.addSchema(doc, "openapi");
const pointer = (...keys) => keys.map((k) => String(k).replaceAll("~", "~0").replaceAll("/", "~1")).join("/");
const validators = new Map();
function validate(schemaPointer, value) {
    const check = validators.get(schemaPointer) ?? validators.set(schemaPointer, ajv.compile({ $ref: `openapi#${schemaPointer}` })).get(schemaPointer);
    return check(value) ? "" : ajv.errorsText(check.errors, { separator: "\n  " });
}
// A $ref outside schemas (responses, request bodies, parameters): the object and its pointer.
function follow(object, at) {
    while (object?.$ref) {
        at = object.$ref.slice(1);
        object = at.split("/").slice(1).reduce((node, key) => node[key.replaceAll("~1", "/").replaceAll("~0", "~")], doc);
    }
    return [object, at];
}

// Placeholders of the examples, and what stands for them on this rig.
const stand = { "EPSON TM-T20": env.QLK_JS_PRINTER || "EPSON TM-T20", COM3: env.QLK_JS_TPA_WALK, KEY: env.QLK_JS_KEY };
const substitute = (value) => typeof value === "string" ? stand[value] ?? value : Array.isArray(value) ? value.map(substitute)
    : value && typeof value === "object" ? Object.fromEntries(Object.entries(value).map(([k, v]) => [k, substitute(v)])) : value;

// Raw HTTPS: the request exactly as written, nothing added.
const send = ({ method, path, query = "", headers = {}, body = "" }) => new Promise((resolve, reject) =>
    request({ host: "127.0.0.1", servername: "localhost", port: Number(env.QLK_JS_PORT), method, path: path + query, headers }, (res) => {
        let text = "";
        res.setEncoding("utf8").on("data", (c) => (text += c)).on("end", () => resolve({ status: res.statusCode, headers: res.headers, body: text }));
    }).on("error", reject).end(body));

const secured = (operation) => (operation.security ?? doc.security).length > 0;
// The requests an operation's examples make.
function requestsOf(path, method, operation) {
    const auth = (fields) => (secured(operation) && !(fields && typeof fields === "object" && "securityKey" in fields) ? { Authorization: `Bearer ${env.QLK_JS_KEY}` } : {});
    const requests = [];
    if (method === "get" || method === "options") {
        const headers = {};
        const query = new URLSearchParams();
        for (const parameter of (operation.parameters ?? []).map((p) => follow(p)[0])) {
            if (parameter.in === "query")
                query.set(parameter.name, substitute(parameter.example));
            else if (parameter.in === "header")
                headers[parameter.name] = parameter.example;
        }
        requests.push({ name: method, method: method.toUpperCase(), path, query: query.size ? `?${query}` : "", headers: { ...headers, ...auth() } });
    }
    const [body] = follow(operation.requestBody);
    for (const [type, media] of Object.entries(body?.content ?? {})) {
        for (const [name, example] of Object.entries(media.examples ?? {})) {
            const fields = substitute(follow(example)[0].value);
            const text = typeof fields === "string" ? fields : type === "application/json" ? JSON.stringify(fields) : new URLSearchParams(fields).toString();
            requests.push({ name: `${type} ${name}`, method: "POST", path, headers: { "Content-Type": type, ...auth(fields) }, body: text });
        }
    }
    return requests;
}

// Why the answer is not one the operation describes; empty when it is.
function mismatch(path, method, operation, answer) {
    const responses = operation.responses;
    if (!(String(answer.status) in responses))
        return `HTTP ${answer.status} is not among ${Object.keys(responses)}: ${answer.body}`;
    const [response, at] = follow(responses[answer.status], pointer("", "paths", path, method, "responses", answer.status));
    for (const [name, header] of Object.entries(response.headers ?? {})) {
        const value = answer.headers[name.toLowerCase()];
        if (value === undefined && header.required)
            return `header ${name} missing`;
        const problem = value === undefined ? "" : validate(`${at}/${pointer("headers", name, "schema")}`, value);
        if (problem)
            return `header ${name}: ${value}: ${problem}`;
    }
    if (!response.content)
        return answer.body === "" ? "" : `a body where none is described: ${answer.body.slice(0, 200)}`;
    const type = String(answer.headers["content-type"]).split(";")[0].trim();
    if (!(type in response.content))
        return `content type ${type} is not among ${Object.keys(response.content)}`;
    let value = answer.body;
    try {
        value = type === "application/json" ? JSON.parse(answer.body) : value;
    } catch {
        return `not JSON: ${answer.body.slice(0, 200)}`;
    }
    const problem = validate(`${at}/${pointer("content", type, "schema")}`, value);
    return problem && `${problem}\n  answer: ${answer.body.slice(0, 400)}`;
}

const operations = Object.entries(doc.paths).flatMap(([path, item]) => ["get", "post", "options"].filter((m) => item[m]).map((method) => [path, method, item[method]]));

test("the description lints clean", () => {
    const redocly = join(here, "node_modules", ".bin", "redocly");
    // As a developer runs it from the repository's root: the settings must be found there.
    const run = spawnSync(redocly, ["lint", "--format=stylish", "docs/openapi.yaml"], { cwd: join(docs, ".."), encoding: "utf8" });
    assert.equal(run.status, 0, run.stdout + run.stderr);
    assert.doesNotMatch(run.stdout + run.stderr, /^\s*\d+:\d+\s+(warning|error)/m, "warnings count too");
});

test("every operation answers its examples and its refusals as described", async (t) => {
    for (const [path, method, operation] of operations) {
        const [first, ...others] = requestsOf(path, method, operation);
        assert.ok(first, `${method} ${path} has no example to walk`);
        const refusals = [["foreign origin", { Origin: "https://evilquorva.pt" }, 403], ["foreign load", { "Sec-Fetch-Site": "cross-site" }, 403]];
        if (secured(operation))
            refusals.push(["wrong key", { Authorization: "Bearer wrong", "Content-Type": "application/json" }, 401]);
        const refused = refusals.map(([name, headers, status]) => ({ ...first, name, status, headers: { ...first.headers, ...headers }, body: headers.Authorization ? "{}" : first.body }));
        for (const req of [first, ...others, ...refused]) {
            await t.test(`${method.toUpperCase()} ${path} ${req.name}`, async () => {
                const answer = await send(req);
                assert.equal(answer.status, req.status ?? answer.status);
                assert.equal(mismatch(path, method, operation, answer), "");
            });
        }
    }
});

// It shuts this computer out for ten seconds, and waits that out for whatever runs next.
test("too many wrong keys are answered as described", async () => {
    const guess = { method: "POST", path: "/getStatus", headers: { Authorization: "Bearer wrong" } };
    let answer;
    for (let i = 0; i < 25 && answer?.status !== 429; i++)
        answer = await send(guess);
    assert.equal(answer.status, 429);
    assert.equal(mismatch("/getStatus", "post", doc.paths["/getStatus"].post, answer), "");
    const admitted = { ...guess, headers: { Authorization: `Bearer ${env.QLK_JS_KEY}` } };
    await waitFor(async () => (await send(admitted)).status !== 429, 20000, "the wrong-key window to end");
});
