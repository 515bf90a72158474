#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QQueue>
#include <QString>

class QSocketNotifier;
class QTimer;

// Plays a payment terminal of either family on the master side of a
// pseudo-terminal; the program under test opens the slave side as its serial
// port. It acknowledges what it receives, answers status polls, and answers
// each command with a scripted outcome. Framing is written here independently
// of the program's own, so that the two check each other.
class TerminalSimulator : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        Approve,         // intermediate messages, then the approving result
        Decline,         // intermediate messages, then the declining result
        Silence,         // the command is acknowledged and never answered
        BadCheckByte,    // as Approve, each frame first sent with a wrong check byte, again after the NAK
        SplitFrames,     // as Approve, each frame written in three pieces
        Garbage,         // as Approve, noise before every frame
        TerminalTimeout, // intermediate messages, then the terminal gives up (family 1: "M01101")
    };
    Q_ENUM(Outcome)

    static constexpr char STX = 0x02;
    static constexpr char ETX = 0x03;
    static constexpr char ACK = 0x06;
    static constexpr char DLE = 0x10;
    static constexpr char NAK = 0x15;

    explicit TerminalSimulator(int family, QObject* parent = nullptr);
    ~TerminalSimulator() override;

    // Creates the pseudo-terminal; portPath() then names its slave side.
    bool open();
    bool isOpen() const { return m_master >= 0; }
    QString portPath() const { return m_portPath; }
    QString errorString() const { return m_errorString; }
    int family() const { return m_family; }
    // The device vanishes: both sides are closed, the port gets a hang-up.
    void closeMaster();
    // Stops (or resumes) the flow of bytes from the port to the terminal, so
    // that the program's writes stall as on a stuck line.
    bool setPortOutputSuspended(bool suspended);

    // Outcomes for the coming commands, one each; the last one repeats.
    void setOutcomes(const QList<Outcome>& outcomes);
    void setAnswerPolls(bool answer) { m_answerPolls = answer; }
    void setStepInterval(int ms) { m_stepMs = ms; }

    // A frame of the family around message; with a wrong check byte if asked.
    static QByteArray frame(int family, const QByteArray& message, bool badCheckByte = false);
    static bool parseOutcome(const QString& name, Outcome* outcome);
    static QString outcomeName(Outcome outcome);
    // The status poll the program sends for a family.
    static QByteArray statusRequest(int family);

    // Sends one message now, framed (and spoiled as the outcome says).
    void sendMessage(const QByteArray& message, Outcome how = Outcome::Approve);
    void writeRaw(const QByteArray& bytes);

    // Everything received so far, byte for byte.
    QByteArray received() const { return m_received; }
    void clearReceived() { m_received.clear(); }
    // The messages of the well-formed frames received so far.
    QList<QByteArray> messages() const { return m_messages; }
    int acksReceived() const { return m_acks; }
    int naksReceived() const { return m_naks; }

signals:
    void messageReceived(QByteArray message);
    void ackReceived();
    void nakReceived();
    void bytesReceived(QByteArray bytes);
    // One line of traffic, for the program's log.
    void trace(QString line);

private:
    struct Chunk
    {
        QByteArray bytes;
        int delayMs = 0;
        bool endsFrame = true;  // flush owed ACK and NAK bytes after it
        QByteArray resendOnNak; // a deliberately bad frame: the good one follows the NAK
    };

    void readMaster();
    void handleByte(char byte);
    void handleMessage(const QByteArray& message);
    void reply(const QByteArray& message);
    QList<QByteArray> script(const QByteArray& message, Outcome outcome) const;
    void queueFrame(const QByteArray& message, Outcome how, int delayMs);
    void scheduleNext();
    void writeNextChunk();
    void writeControl(char byte);
    Outcome nextOutcome();

    int m_family;
    int m_master = -1;
    int m_slave = -1;
    QString m_portPath;
    QString m_errorString;
    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_stepTimer = nullptr;

    QList<Outcome> m_outcomes{Outcome::Approve};
    bool m_answerPolls = true;
    int m_stepMs = 300;

    bool m_inFrame = false;
    bool m_awaitingCheckByte = false;
    QByteArray m_buffer;

    QQueue<Chunk> m_chunks;
    bool m_midFrame = false;  // a frame of ours is partly written
    QByteArray m_owedControl; // ACK and NAK bytes held back until our frame is whole
    QByteArray m_waitingNakFor;

    QByteArray m_received;
    QList<QByteArray> m_messages;
    int m_acks = 0;
    int m_naks = 0;
};
