// Builds the operations of a print job in the order they are called:
//   receipt().align("center").text("Obrigado!\n").qrcode({text: "..."}).cut().build()

const ALIGNMENTS = { left: 0, center: 1, right: 2 };

export class Receipt {
    #operations = [];

    #add(op, data) {
        this.#operations.push({ op, data });
        return this;
    }

    /** Paper and printer settings (dotWidth, normalLineWidth, hasCutter, ...); replaces all earlier ones. */
    settings(settings) {
        return this.#add("settings", { ...settings });
    }
    /** "left", "center" or "right". */
    align(alignment) {
        if (typeof alignment !== "string" || !Object.hasOwn(ALIGNMENTS, alignment))
            throw new TypeError(`alignment is "left", "center" or "right", not ${JSON.stringify(alignment)}`);
        return this.#add("alignment", ALIGNMENTS[alignment]);
    }
    /** Text as it is; lines end with "\n" (a last line without one does not print). */
    text(text) {
        return this.#add("text", String(text));
    }
    /** text followed by a line end. */
    line(text = "") {
        return this.text(`${text}\n`);
    }
    double({ width = false, height = false } = {}) {
        return this.#add("double", { width, height });
    }
    condensed(on = true) {
        return this.#add("condensed", Boolean(on));
    }
    style({ emphasized = false, underlined = false } = {}) {
        return this.#add("style", { emphasized, underlined });
    }
    /** An image: base64 PNG or JPEG, or an http(s) address the connector downloads. */
    image(source) {
        return this.#add("image", String(source));
    }
    /** {text, size?, errorCorrection?, native?} */
    qrcode(code) {
        return this.#add("qrcode", { ...code });
    }
    /** {type, text, height?, width?, hri?, native?} */
    barcode(code) {
        return this.#add("barcode", { ...code });
    }
    /** "feed" (the paper moves past the cutter first) or "no_feed". */
    cut(mode = "feed") {
        if (mode !== "feed" && mode !== "no_feed")
            throw new TypeError(`cut is "feed" or "no_feed", not ${JSON.stringify(mode)}`);
        return this.#add("cut", mode);
    }
    /** Opens the cash drawer: drawer 0 or 1, pulse 50 to 250 (× 2 ms). */
    pulse({ drawer = 0, pulse = 50 } = {}) {
        // The connector would quietly open drawer 0 for 100 ms instead of what was asked.
        if (drawer !== 0 && drawer !== 1)
            throw new TypeError(`the drawer is 0 or 1, not ${JSON.stringify(drawer)}`);
        if (!Number.isInteger(pulse) || pulse < 50 || pulse > 250)
            throw new TypeError(`the pulse is a whole number from 50 to 250, not ${JSON.stringify(pulse)}`);
        return this.#add("pulse", { drawer, pulse });
    }

    /** The job: a fresh array of the operations so far. */
    build() {
        return structuredClone(this.#operations);
    }
    toJSON() {
        return this.build();
    }
}

export function receipt() {
    return new Receipt();
}
