#pragma once

#include <QDateTime>
#include <QString>

namespace till {

/// The journal's figures in Prometheus' text exposition format, for node_exporter's textfile
/// collector: a chain sees every till through the monitoring it already runs. All gauges;
/// when the journal cannot be read only oxlenpay_journal_readable (0) is given.
QString metricsText(const QDateTime& now = QDateTime::currentDateTimeUtc());

/// Writes metricsText() to `path` whole, readable by the collector: a temporary file beside
/// it, then a rename, so that the collector never reads half a file. False, with the reason.
bool writeMetrics(const QString& path, QString* error);

} // namespace till
