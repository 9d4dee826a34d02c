#pragma once

#include <QString>

#include <optional>

namespace sandbox {

/// The provider's merchant operations. Their verbs, paths, names and handlers
/// are one table, in the provider API.
enum class Operation { Payment, Status, Reversal, Partial, Fiscal };

/// Its control-API name: "payment", "status", "reversal", "partial", "fiscal".
QString operationName(Operation operation);
std::optional<Operation> operationFromName(const QString& name);
/// The operation that `method` on `path` (below the base path) asks for.
std::optional<Operation> operationAt(const QString& method, const QString& path);

} // namespace sandbox
