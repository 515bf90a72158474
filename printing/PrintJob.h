#pragma once

#include "printing/ImageLoader.h"
#include "printing/JobSettings.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QJsonArray>
#include <QObject>
#include <QString>
#include <QStringList>

class CodeOperation;
class NativeESCFakeSocket;
class QIODevice;
class QJsonObject;
class QJsonValue;

// One receipt: walks the job's operations in order and writes their ESC/POS
// bytes to the printer as it goes, never assembling the whole job in memory.
class PrintJob : public QObject
{
    Q_OBJECT

public:
    PrintJob(const QJsonArray& job, const QString& printerName, bool compatibilityMode, QObject* parent = nullptr);

    // Prints the whole job to the printer. False when the job does not pass
    // JobCheck (nothing is sent), the printer was not ready, the
    // spooler refused the document, or it refused any of the job's bytes: a
    // truncated receipt is never reported as printed. A job whose thread is asked
    // to stop (the server is being switched off) ends there and prints nothing.
    bool print();

    // Walks the job onto any open device: initialisation (unless in compatibility
    // mode) and every operation. False as soon as a write is refused; the rest of
    // the job is then not rendered, since it could not reach the printer.
    bool render(QIODevice* sink);
    // The settings in force where the last walk ended.
    const JobSettings& settings() const { return m_settings; }
    // One line per image of the last walk that could not be had, with the reason.
    const QStringList& skippedImages() const { return m_skippedImages; }

    // Downloads the job's images by address ahead of render(), which then only
    // decodes them: a caller can wait for the network without holding what the
    // drawing needs. Images that will not print are not fetched.
    void fetchImages();

    // Inserts line ends so that no line is longer than width: at the text's own
    // line end in the window, else its last space or hyphen; see the source.
    static QString wrapText(const QString& text, int width);

    // One time limit for all image downloads of the job together, counted from
    // the first; images whose download would start after it are skipped.
    static constexpr int defaultImageTimeMs = 15000;
    void setImageTimeout(int ms) { m_imageTimeMs = ms; }

private:
    struct Download
    {
        QByteArray body;
        QString problem; // empty when the body came
    };

    void resetState();
    void initialize();
    void dispatch(const QString& op, const QJsonValue& data);
    void sendPrintMode();
    void printText(const QString& text);
    void printImage(const QString& source);
    bool printsImages() const;
    // Within the job's time for downloads.
    Download download(const QString& address);
    void printCode(const CodeOperation& code);
    void send(const QByteArray& bytes);

    QJsonArray m_job;
    QString m_printerName;
    JobSettings m_settings;
    bool m_doubleWidth = false;
    bool m_doubleHeight = false;
    bool m_condensed = false;
    bool m_emphasized = false;
    bool m_underlined = false;
    int m_alignment = -1; // -1: none sent yet
    bool m_compatibilityMode = false;
    int m_imageTimeMs = defaultImageTimeMs;
    QDeadlineTimer m_imageDeadline{QDeadlineTimer::Forever};
    bool m_downloading = false;       // the image deadline runs
    QHash<int, Download> m_downloads; // fetched ahead, by operation
    QStringList m_skippedImages;
    int m_operation = 0;    // the operation being walked
    bool m_stopped = false; // the thread was asked to stop: the job ends unprinted
    NativeESCFakeSocket* m_device;
    QIODevice* m_sink = nullptr;
    bool m_refused = false;
};
