// Times the peer libraries on the inputs that bench_render wrote, and prints
// the comparison table. Usage: node bench.mjs INPUT_DIR OURS_JSON [RUNS]
//   INPUT_DIR holds receipt.png, photo.png and receipt.txt;
//   OURS_JSON is the line bench_render printed.
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import ReceiptPrinterEncoder from '@point-of-sale/receipt-printer-encoder';

const require = createRequire(import.meta.url);
const { PNG } = require('pngjs');
const receiptline = require('receiptline');
const { ThermalPrinter, PrinterTypes, CharacterSet } = require('node-thermal-printer');

const [dir, oursJson, runsArg] = process.argv.slice(2);
const ours = JSON.parse(oursJson);
const runs = Number(runsArg) || 11;
const inputs = {
  image: readFileSync(`${dir}/receipt.png`),
  photo: readFileSync(`${dir}/photo.png`),
};
const lines = readFileSync(`${dir}/receipt.txt`, 'utf8').split('\n').filter((l) => l.length > 0);
// The invoice with a QR code: the first ten lines, then the ATCUD-style code (4-dot modules, level M) natively.
const atcud = readFileSync(`${dir}/atcud.txt`, 'utf8');
const invoiceLines = lines.slice(0, 10);

// Each peer gets what our job carries: the PNG file (our job decodes its Base64
// too) or the lines of text; each returns the printer bytes. Text goes out in
// code page 858, which has every character of the text, so that no peer pays
// for searching code pages.
const peers = {
  '@point-of-sale/receipt-printer-encoder': {
    picture(png) {
      const decoded = PNG.sync.read(png);
      const image = { data: decoded.data, width: decoded.width, height: decoded.height };
      return new ReceiptPrinterEncoder({ language: 'esc-pos', columns: 48 })
        .initialize().image(image, decoded.width, decoded.height, 'floydsteinberg').cut().encode();
    },
    text() {
      const encoder = new ReceiptPrinterEncoder({ language: 'esc-pos', columns: 48 }).initialize().codepage('cp858');
      for (const line of lines) encoder.line(line);
      return encoder.cut().encode();
    },
    qr() {
      const encoder = new ReceiptPrinterEncoder({ language: 'esc-pos', columns: 48 }).initialize().codepage('cp858');
      for (const line of invoiceLines) encoder.line(line);
      return encoder.align('center').qrcode(atcud, { model: 2, size: 4, errorlevel: 'm' }).cut().encode();
    },
  },
  receiptline: {
    picture(png) {
      return receiptline.transform(`{i:${png.toString('base64')}}\n`, { command: 'escpos', cpl: 48 });
    },
    text() {
      const escaped = lines.map((l) => l.replace(/[\\|{}\-=~_"`^]/g, (c) => `\\${c}`));
      return receiptline.transform(escaped.join('\n') + '\n', { command: 'escpos', cpl: 48, encoding: 'multilingual' });
    },
    qr() {
      const escape = (l) => l.replace(/[\\|{}\-=~_"`^]/g, (c) => `\\${c}`);
      const doc = invoiceLines.map(escape).join('\n') + `\n{c:${escape(atcud)};o:qrcode,4,m}\n`;
      return receiptline.transform(doc, { command: 'escpos', cpl: 48, encoding: 'multilingual' });
    },
  },
  'node-thermal-printer': {
    async picture(png) {
      const printer = new ThermalPrinter({ type: PrinterTypes.EPSON, interface: 'tcp://127.0.0.1:9', width: 48 });
      await printer.printImageBuffer(png);
      printer.cut();
      return printer.getBuffer();
    },
    text() {
      const printer = new ThermalPrinter({
        type: PrinterTypes.EPSON, interface: 'tcp://127.0.0.1:9', width: 48, characterSet: CharacterSet.PC858_EURO,
      });
      for (const line of lines) printer.println(line);
      printer.cut();
      return printer.getBuffer();
    },
    qr() {
      const printer = new ThermalPrinter({
        type: PrinterTypes.EPSON, interface: 'tcp://127.0.0.1:9', width: 48, characterSet: CharacterSet.PC858_EURO,
      });
      for (const line of invoiceLines) printer.println(line);
      printer.alignCenter();
      printer.printQR(atcud, { cellSize: 4, correction: 'M', model: 2 });
      printer.cut();
      return printer.getBuffer();
    },
  },
};

async function medianMs(fn) {
  const times = [];
  for (let i = 0; i < runs + 2; i++) {
    const start = process.hrtime.bigint();
    const out = await fn();
    const ms = Number(process.hrtime.bigint() - start) / 1e6;
    if (!out || out.length === 0) throw new Error('produced no bytes');
    if (i >= 2) times.push(ms);
  }
  times.sort((a, b) => a - b);
  return times[Math.floor(times.length / 2)];
}

const jobs = [
  ['text job, 200 lines', 'text_ms', (peer) => peer.text()],
  [`image job, 576x1200 receipt PNG (${Math.round(ours.png_bytes / 1024)} KiB)`, 'image_ms', (peer) => peer.picture(inputs.image)],
  [`image job, 576x1200 photo PNG (${Math.round(ours.photo_png_bytes / 1024)} KiB)`, 'photo_ms', (peer) => peer.picture(inputs.photo)],
  ['invoice with an ATCUD QR code, native', 'qr_native_ms', (peer) => peer.qr()],
];

const rows = [];
const cpuKey = {
  text_ms: 'text_cpu_ms', image_ms: 'image_cpu_ms', photo_ms: 'photo_cpu_ms', qr_native_ms: 'qr_native_cpu_ms',
};
for (const [label, key, run] of jobs) {
  const results = {};
  for (const [name, peer] of Object.entries(peers)) {
    try {
      results[name] = await medianMs(() => run(peer));
    } catch (error) {
      results[name] = null;
      console.error(`${name}, ${label}: ${error.message}`);
    }
  }
  rows.push({ label, ours: ours[key], oursCpu: ours[cpuKey[key]], results });
}

const fmt = (ms) => (ms === null ? 'failed' : ms < 1 ? ms.toFixed(3) : ms.toFixed(1));
const names = Object.keys(peers);
console.log(`\nMedians of ${runs} runs in ms, wall clock (ours: ${ours.runs} runs, also the processor time of`);
console.log('the rendering thread); ratio = fastest peer / ours, both wall clock, measured side by side\n');
console.log(`| job | Quorva Link | (processor time) | ${names.join(' | ')} | ratio |`);
console.log(`|---|---:|---:|${names.map(() => '---:').join('|')}|---:|`);
for (const row of rows) {
  const valid = names.map((n) => row.results[n]).filter((v) => v !== null);
  const fastest = valid.length ? Math.min(...valid) : null;
  const ratio = fastest === null ? 'n/a' : `${(fastest / row.ours).toFixed(1)}x`;
  console.log(`| ${row.label} | ${fmt(row.ours)} | ${fmt(row.oursCpu)} | ${names.map((n) => fmt(row.results[n])).join(' | ')} | ${ratio} |`);
}
