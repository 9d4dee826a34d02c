#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace till {

/// What the till was asked to do.
struct TillCommand {
    // Global options.
    QString pluginPath;
    QString configFile;
    QString caFile;
    bool json = false;
    enum class Verbosity { Quiet, Normal, Verbose } verbosity = Verbosity::Normal;

    QString name = "demo"; // demo, sale, refund, cancel, fiscal, info, journal, recover,
                           // check-config, status, metrics
    bool commandGiven = false;
    qint32 amount = 0;
    bool hasAmount = false;
    qint32 original = 0;
    qint32 currency = 398;
    QString token;
    QString rrn;
    QString qr;
    bool openOnly = false; // journal --open
    bool resolve = false;  // journal resolve ID --note TEXT
    QString resolvedId;
    QString note;
    bool report = false;    // journal report
    bool reconcile = false; // journal reconcile
    QString metricsFile;    // --metrics-file, for recover, journal reconcile and metrics
    bool csv = false;       // journal --csv
    QString entryId;        // journal --id
    QString paymentId;      // journal --payment
    QString since, until;   // journal --since / --until, as given
    QString checkedFile;    // check-config FILE
    bool online = false;    // check-config --online
    bool help = false;
    bool version = false;
};

/// Parses the arguments after the program name. False with a message in `error`
/// for a usage mistake; `command.help` is set when help was asked for.
bool parseCommandLine(const QStringList& arguments, TillCommand* command, QString* error);

/// The usage text of one command, or of the till when `command` is empty.
QString usage(const QString& command = QString());

} // namespace till
