#include "printing/CodePages.h"

#include "printing/generated/CodePageTables.h"

#include <QHash>
#include <array>
#include <memory>

namespace {

// The third page searched: WPC1252 normally, PC858 (with the euro at D5) as the alternative set.
bool pageSearched(int page, bool alternativeCharset)
{
    return page != (alternativeCharset ? 16 : 19);
}

// First (page, byte) for every UTF-16 unit, packed as page << 8 | byte (0 when no page has it).
// Built once so that encoding does not scan the page tables for every character.
struct FirstPairIndex
{
    std::array<quint16, 0x10000> normal{};
    std::array<quint16, 0x10000> alternative{};

    FirstPairIndex()
    {
        fill(normal, false);
        fill(alternative, true);
    }

    static void fill(std::array<quint16, 0x10000>& index, bool alternativeCharset)
    {
        // Descending pages and bytes, so the lowest page and the first position win.
        for (int page = CodePageTables::pageCount - 1; page >= 0; --page) {
            const char16_t* table = CodePageTables::pages[page];
            if (!table || !pageSearched(page, alternativeCharset))
                continue;
            for (int i = CodePageTables::pageLength - 1; i >= 0; --i)
                index[table[i]] = quint16(page << 8 | (i + 1));
        }
    }
};

const FirstPairIndex& firstPairs()
{
    static const std::unique_ptr<FirstPairIndex> index(new FirstPairIndex);
    return *index;
}

const QHash<int, QString>& foldingTable()
{
    static const QHash<int, QString> table = [] {
        QHash<int, QString> t;
        t.reserve(CodePageTables::foldingCount);
        for (const CodePageTables::FoldingRow& row : CodePageTables::folding)
            t.insert(row.key, QString::fromLatin1(row.value));
        return t;
    }();
    return table;
}

// Built at start-up so that connection threads only ever read them.
const bool tablesReady = (firstPairs(), foldingTable(), true);

} // namespace

QByteArray CodePages::lookupChar(QChar unit, bool alternativeCharset)
{
    QByteArray pairs;
    for (int page = 0; page < CodePageTables::pageCount; ++page) {
        const char16_t* table = CodePageTables::pages[page];
        if (!table || !pageSearched(page, alternativeCharset))
            continue;
        for (int i = 0; i < CodePageTables::pageLength; ++i) {
            if (table[i] == unit.unicode()) {
                pairs.append(char(page));
                pairs.append(char(i + 1));
                break;
            }
        }
    }
    if (pairs.isEmpty())
        pairs = QByteArray(2, '\0');
    return pairs;
}

QByteArray CodePages::encodeText(const QString& text, bool alternativeCharset)
{
    Q_UNUSED(tablesReady);
    const std::array<quint16, 0x10000>& index = alternativeCharset ? firstPairs().alternative : firstPairs().normal;
    QByteArray out;
    out.reserve(3 + text.size() + text.size() / 4);
    out.append("\x1B\x74\x00", 3); // ESC t 0: select PC437
    for (QChar unit : text) {
        const quint16 pair = index[unit.unicode()];
        const char page = char(pair >> 8);
        const char byte = char(pair & 0xFF);
        if (page == 0) {
            out.append(byte); // also 00 for a character no page has
        } else {
            out.append("\x1B\x74", 2); // ESC t n: this one character from page n
            out.append(page);
            out.append(byte);
            out.append("\x1B\x74\x00", 3); // ESC t 0: straight back to PC437
        }
    }
    return out;
}

QString CodePages::foldToAscii(const QString& text)
{
    const QHash<int, QString>& table = foldingTable();
    QString out;
    out.reserve(text.size());
    for (QChar unit : text) {
        if (unit.unicode() <= 0x7F) {
            out.append(unit);
            continue;
        }
        const auto it = table.constFind(unit.unicode());
        if (it != table.constEnd())
            out.append(*it);
        else
            out.append(QLatin1Char(' '));
    }
    return out;
}
