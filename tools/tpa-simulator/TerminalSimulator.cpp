#include "TerminalSimulator.h"

#include <QMetaEnum>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Printable bytes as they are, the rest in hex: readable frames in the log.
QString describe(const QByteArray& bytes)
{
    QString text;
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        if (value >= 0x20 && value < 0x7F && value != '\\')
            text.append(QLatin1Char(byte));
        else
            text.append(QStringLiteral("\\x%1").arg(value, 2, 16, QLatin1Char('0')));
    }
    return text;
}

} // namespace

TerminalSimulator::TerminalSimulator(int family, QObject* parent)
    : QObject(parent)
    , m_family(family == 2 ? 2 : 1)
    , m_stepTimer(new QTimer(this))
{
    m_stepTimer->setSingleShot(true);
    connect(m_stepTimer, &QTimer::timeout, this, &TerminalSimulator::writeNextChunk);
}

TerminalSimulator::~TerminalSimulator()
{
    closeMaster();
}

bool TerminalSimulator::open()
{
    if (isOpen())
        return true;
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_errorString = QStringLiteral("openpty: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        m_master = m_slave = -1;
        return false;
    }
    // Raw on both sides: no echo, no line editing, no translation of bytes.
    termios attributes{};
    if (tcgetattr(m_slave, &attributes) == 0) {
        cfmakeraw(&attributes);
        tcsetattr(m_slave, TCSANOW, &attributes);
    }
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    // The slave side stays open here too: without any slave open, the master reads
    // as hung up while the program has its port closed.
    m_portPath = QString::fromLocal8Bit(name);
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminalSimulator::readMaster);
    return true;
}

void TerminalSimulator::closeMaster()
{
    if (m_notifier) {
        m_notifier->setEnabled(false);
        delete m_notifier;
        m_notifier = nullptr;
    }
    m_stepTimer->stop();
    m_chunks.clear();
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = m_slave = -1;
}

bool TerminalSimulator::setPortOutputSuspended(bool suspended)
{
    return m_slave >= 0 && tcflow(m_slave, suspended ? TCOOFF : TCOON) == 0;
}

void TerminalSimulator::setOutcomes(const QList<Outcome>& outcomes)
{
    m_outcomes = outcomes.isEmpty() ? QList<Outcome>{Outcome::Approve} : outcomes;
}

QByteArray TerminalSimulator::frame(int family, const QByteArray& message, bool badCheckByte)
{
    QByteArray bytes;
    char check = 0;
    if (family == 2) {
        // DLE STX message DLE ETX check; the check covers the message, DLE and ETX.
        bytes.append(DLE).append(STX).append(message).append(DLE).append(ETX);
        for (const char byte : message)
            check ^= byte;
        check ^= DLE;
        check ^= ETX;
    } else {
        // STX message ETX check; the check covers the message and ETX.
        bytes.append(STX).append(message).append(ETX);
        for (const char byte : message)
            check ^= byte;
        check ^= ETX;
    }
    bytes.append(badCheckByte ? static_cast<char>(check ^ 0x5A) : check);
    return bytes;
}

bool TerminalSimulator::parseOutcome(const QString& name, Outcome* outcome)
{
    static const QList<QPair<QString, Outcome>> names = {
        {QStringLiteral("approve"), Outcome::Approve},        {QStringLiteral("decline"), Outcome::Decline},
        {QStringLiteral("silence"), Outcome::Silence},        {QStringLiteral("badcheck"), Outcome::BadCheckByte},
        {QStringLiteral("split"), Outcome::SplitFrames},      {QStringLiteral("garbage"), Outcome::Garbage},
        {QStringLiteral("timeout"), Outcome::TerminalTimeout}};
    for (const auto& entry : names) {
        if (entry.first.compare(name.trimmed(), Qt::CaseInsensitive) == 0) {
            *outcome = entry.second;
            return true;
        }
    }
    return false;
}

QString TerminalSimulator::outcomeName(Outcome outcome)
{
    return QString::fromLatin1(QMetaEnum::fromType<Outcome>().valueToKey(static_cast<int>(outcome)));
}

QByteArray TerminalSimulator::statusRequest(int family)
{
    return family == 2 ? QByteArrayLiteral("M00110PQ") : QByteArrayLiteral("M00005LB020000");
}

void TerminalSimulator::sendMessage(const QByteArray& message, Outcome how)
{
    queueFrame(message, how, 0);
}

void TerminalSimulator::writeRaw(const QByteArray& bytes)
{
    if (m_master < 0)
        return;
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    emit trace(QStringLiteral("-> %1").arg(describe(bytes)));
}

void TerminalSimulator::readMaster()
{
    char data[512];
    for (;;) {
        const ssize_t n = ::read(m_master, data, sizeof(data));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        const QByteArray bytes(data, static_cast<int>(n));
        m_received.append(bytes);
        emit bytesReceived(bytes);
        for (const char byte : bytes)
            handleByte(byte);
    }
}

void TerminalSimulator::handleByte(char byte)
{
    if (m_awaitingCheckByte) {
        m_awaitingCheckByte = false;
        char check = ETX;
        for (const char b : qAsConst(m_buffer))
            check ^= b;
        const QByteArray buffer = m_buffer;
        m_buffer.clear();
        if (check != byte) {
            emit trace(QStringLiteral("<- bad check byte, NAK"));
            writeControl(NAK);
            return;
        }
        writeControl(ACK);
        QByteArray message = buffer;
        // Family 2 sends DLE before ETX; it is counted in the check but is no part of the message.
        if (m_family == 2 && message.endsWith(DLE))
            message.chop(1);
        handleMessage(message);
        return;
    }
    if (byte == STX && !m_inFrame) {
        m_inFrame = true;
        m_buffer.clear();
    } else if (byte == ETX && m_inFrame) {
        m_inFrame = false;
        m_awaitingCheckByte = true;
    } else if (m_inFrame) {
        m_buffer.append(byte);
    } else if (byte == ACK) {
        ++m_acks;
        emit ackReceived();
    } else if (byte == NAK) {
        ++m_naks;
        emit nakReceived();
        if (!m_waitingNakFor.isEmpty()) {
            // The program refused our spoiled frame; now the good one.
            Chunk good;
            good.bytes = frame(m_family, m_waitingNakFor);
            m_waitingNakFor.clear();
            m_chunks.prepend(good);
            scheduleNext();
        }
    }
}

void TerminalSimulator::handleMessage(const QByteArray& message)
{
    emit trace(QStringLiteral("<- %1").arg(describe(message)));
    m_messages.append(message);
    emit messageReceived(message);
    reply(message);
}

void TerminalSimulator::writeControl(char byte)
{
    // Never inside one of our own frames that is being written in pieces.
    if (m_midFrame)
        m_owedControl.append(byte);
    else
        writeRaw(QByteArray(1, byte));
}

TerminalSimulator::Outcome TerminalSimulator::nextOutcome()
{
    return m_outcomes.size() > 1 ? m_outcomes.takeFirst() : m_outcomes.first();
}

void TerminalSimulator::reply(const QByteArray& message)
{
    const QByteArray code = message.left(4);
    const bool poll = message == statusRequest(m_family);
    if (poll) {
        if (m_answerPolls)
            queueFrame(m_family == 2 ? QByteArrayLiteral("M00100") : QByteArrayLiteral("M00000"), Outcome::Approve,
                       qMin(m_stepMs, 20));
        return;
    }
    // The program's answer to our M025: nothing follows from it.
    if (m_family == 1 && code == "M025")
        return;
    const Outcome outcome = nextOutcome();
    emit trace(QStringLiteral("   playing %1").arg(outcomeName(outcome)));
    for (const QByteArray& answer : script(message, outcome))
        queueFrame(answer, outcome, m_stepMs);
}

QList<QByteArray> TerminalSimulator::script(const QByteArray& message, Outcome outcome) const
{
    if (outcome == Outcome::Silence)
        return {};
    const QByteArray code = message.left(4);
    const bool decline = outcome == Outcome::Decline;
    const bool giveUp = outcome == Outcome::TerminalTimeout;
    QList<QByteArray> answers;
    if (m_family == 1) {
        if (code == "P001") {
            answers << (decline ? "P10201" : "P10100");
        } else if (code == "P042") {
            answers << (decline ? "P04201" : "P14200");
        } else if (code == "P051") {
            const QByteArray amount = message.mid(16, 8);
            // M025 asks the program to confirm; it answers M025000.
            answers << "M001INSIRA OU APROXIME O CARTAO"
                    << "M025CONFIRME O VALOR"
                    << "M001INTRODUZA O PIN";
            answers << (decline ? "P25105" + amount : "P15100" + amount);
        } else if (code == "P061") {
            answers << "M001INSIRA O CARTAO";
            answers << (decline ? "P26105" : "P16100");
        } else if (code == "M005") {
            answers << (decline ? "M00501" : "M00500");
        }
        if (giveUp && !answers.isEmpty())
            answers.last() = "M01101";
    } else {
        if (code == "S000" || code == "S001") {
            answers << code + (decline ? "01" : "00");
        } else if (code == "C000") {
            const QByteArray amount = message.mid(10, 8);
            answers << "D000INSIRA OU APROXIME O CARTAO"
                    << "D000INTRODUZA O PIN";
            // Tags 9F1C (terminal id) and 9F02 (amount) as the terminal returns them.
            answers << (decline ? QByteArrayLiteral("C00005RECUSADO")
                                : QByteArrayLiteral("C00000APROVADO\x9F\x1C\x08QLK00001\x9F\x02\x08") + amount);
        } else if (code == "C002") {
            answers << "D000INSIRA O CARTAO";
            answers << (decline ? "C00205" : "C00200");
        }
        // This family has no message of its own for giving up: it falls silent.
        if (giveUp && !answers.isEmpty())
            answers.removeLast();
    }
    return answers;
}

void TerminalSimulator::queueFrame(const QByteArray& message, Outcome how, int delayMs)
{
    const QByteArray good = frame(m_family, message);
    switch (how) {
    case Outcome::BadCheckByte: {
        Chunk bad;
        bad.bytes = frame(m_family, message, true);
        bad.delayMs = delayMs;
        bad.resendOnNak = message;
        m_chunks.enqueue(bad);
        break;
    }
    case Outcome::SplitFrames: {
        // Start marker and half the text; the rest with the end marker; the check byte.
        const int head = (m_family == 2 ? 2 : 1) + message.size() / 2;
        const int checkAt = good.size() - 1;
        m_chunks.enqueue({good.left(head), delayMs, false, {}});
        m_chunks.enqueue({good.mid(head, checkAt - head), 30, false, {}});
        m_chunks.enqueue({good.mid(checkAt), 30, true, {}});
        break;
    }
    case Outcome::Garbage:
        // Noise on the line before the frame; it holds no start marker.
        m_chunks.enqueue({QByteArrayLiteral("\xFF\x00\x7Fnoise\x06") + good, delayMs, true, {}});
        break;
    default:
        m_chunks.enqueue({good, delayMs, true, {}});
    }
    scheduleNext();
}

void TerminalSimulator::scheduleNext()
{
    if (m_stepTimer->isActive() || m_chunks.isEmpty() || !m_waitingNakFor.isEmpty())
        return;
    m_stepTimer->start(m_chunks.head().delayMs);
}

void TerminalSimulator::writeNextChunk()
{
    if (m_chunks.isEmpty() || !m_waitingNakFor.isEmpty())
        return;
    const Chunk chunk = m_chunks.dequeue();
    m_midFrame = !chunk.endsFrame;
    writeRaw(chunk.bytes);
    if (!m_midFrame && !m_owedControl.isEmpty()) {
        writeRaw(m_owedControl);
        m_owedControl.clear();
    }
    m_waitingNakFor = chunk.resendOnNak;
    scheduleNext();
}
