#include "tillcommandline.h"

#include "amount.h"

#include <QHash>
#include <QSet>
#include <QUrl>

namespace till {

namespace {

const QStringList Commands = {"demo",    "sale",    "refund",  "cancel",       "fiscal", "info",
                              "journal", "recover", "metrics", "check-config", "status"};

struct CommandOptions {
    QStringList required;
    QStringList optional;
    QStringList flags = {}; // options without a value
};

const QHash<QString, CommandOptions>& optionTable()
{
    static const QHash<QString, CommandOptions> table = {
        {"demo", {{}, {}}},
        {"sale", {{"--amount", "--token"}, {"--currency"}}},
        {"refund", {{"--rrn", "--amount", "--original"}, {"--currency"}}},
        {"cancel", {{"--rrn"}, {"--amount", "--currency"}}},
        {"fiscal", {{"--rrn", "--qr"}, {}}},
        {"info", {{}, {}}},
        {"journal",
         {{},
          {"--note", "--id", "--payment", "--since", "--until", "--amount", "--metrics-file"},
          {"--open", "--json", "--csv"}}},
        {"recover", {{}, {"--metrics-file"}, {"--json"}}},
        {"metrics", {{}, {"--metrics-file"}}},
        {"status", {{"--rrn"}, {}, {"--json"}}},
        {"check-config", {{}, {}, {"--online"}}},
    };
    return table;
}

} // namespace

QString usage(const QString& command)
{
    if (command == "sale") {
        return "usage: oxlenpay-till [global options] sale --amount 15.00 --token TOKEN "
               "[--currency 398]\n"
               "Takes a wallet payment: TOKEN is what the cashier scanned from the customer's "
               "wallet app. --token - reads it from standard input, so that it never shows in "
               "the process list.\n";
    }
    if (command == "refund") {
        return "usage: oxlenpay-till [global options] refund --rrn ID --amount 5.00 --original "
               "15.00 [--currency 398]\n"
               "Returns AMOUNT of the payment ID (its RRN); the whole payment when AMOUNT equals "
               "ORIGINAL.\n";
    }
    if (command == "cancel") {
        return "usage: oxlenpay-till [global options] cancel --rrn ID [--amount 15.00] "
               "[--currency 398]\n"
               "Cancels the payment ID: its whole rest is returned.\n";
    }
    if (command == "fiscal") {
        return "usage: oxlenpay-till [global options] fiscal --rrn ID --qr URL\n"
               "Hands the fiscal receipt link URL of the payment ID to the provider.\n";
    }
    if (command == "info") {
        return "usage: oxlenpay-till [global options] info\n"
               "Shows the version, the configuration file and the settings in effect (the "
               "secret masked), the scan dialog, the supported operations and the plug-in's "
               "options.\n";
    }
    if (command == "journal") {
        return "usage: oxlenpay-till [global options] journal [--open] [--id ID] [--payment ID]\n"
               "           [--since TIME] [--until TIME] [--json | --csv]\n"
               "       oxlenpay-till [global options] journal report [--since TIME] [--until TIME] "
               "[--json]\n"
               "       oxlenpay-till [global options] journal reconcile [--since TIME] "
               "[--until TIME] [--json] [--metrics-file PATH]\n"
               "       oxlenpay-till [global options] journal resolve ID --note TEXT\n"
               "Lists the payment journal, newest first: every operation sent to the provider, "
               "its ids, state and message key.\n"
               "--open lists only the entries not settled: sending and waiting (under way), "
               "unknown (recovery works on it) and attention (a person must settle it).\n"
               "--id and --payment select an entry by its id or its payment id; --since and "
               "--until take an ISO-8601 date or time (2026-12-08, 2026-12-08T14:30), a time "
               "of today (09:00), today, yesterday, or a time back from now (-2h, -30m, "
               "-45s, -1d), local "
               "unless it names its offset; times are shown local, with their offset (JSON and "
               "CSV: UTC).\n"
               "report covers today (local time) unless --since or --until say otherwise: what "
               "still needs recovery or a person, with what to check; the net per currency (sales "
               "done less refunds and cancels done), with unknown amounts and unsettled sums "
               "beside it; count and sum per operation, outcome and currency; fiscal messages "
               "apart; the median duration and the slowest operations.\n"
               "reconcile asks the provider the status of every payment with a sale, refund or "
               "cancel in the span (today by default), one request at a time, and lists each "
               "row the provider's status contradicts, with the reason. It changes no row and "
               "moves no money. Exit status 0 when all agree, 1 on a disagreement, 4 when "
               "nothing disagrees but answers are missing.\n"
               "resolve settles an attention entry by hand, once its payment was checked with "
               "the provider: the note and the time are kept. Exit status 2 for any other "
               "entry.\n";
    }
    if (command == "status") {
        return "usage: oxlenpay-till [global options] status --rrn ID [--json]\n"
               "Asks the provider for the status of the payment ID with one signed request; "
               "changes nothing. Exit status 0 when the provider answered, 1 on its error, 4 "
               "when no answer came.\n";
    }
    if (command == "recover") {
        return "usage: oxlenpay-till [global options] recover [--json]\n"
               "Works on every journal entry not settled whose till is gone: a sale that may "
               "have been charged is reversed, the others are looked up. Exit status 4 while "
               "any entry is not settled (attention entries included), 0 when none is left. "
               "--metrics-file PATH also writes the journal's figures there (see metrics).\n";
    }
    if (command == "metrics") {
        return "usage: oxlenpay-till [global options] metrics [--metrics-file PATH]\n"
               "Writes the journal's figures in Prometheus' text format, for node_exporter's "
               "textfile collector: unsettled operations by state, the oldest one's age, whether "
               "the journal is readable, the last recovery and reconciliation, today's operations "
               "by outcome. To PATH (replaced whole, never half written), else to standard "
               "output. recover and journal reconcile take --metrics-file too.\n";
    }
    if (command == "check-config") {
        return "usage: oxlenpay-till [global options] check-config [--online] [FILE]\n"
               "Lists what the plug-in would ignore or misread in FILE (default: the --config "
               "file, else the file the plug-in reads), each with its line: unknown or misplaced "
               "keys, a section named in the wrong case, numbers that are not numbers or out of "
               "range, a host that is not https, a path naming a host, missing credentials, the "
               "example's placeholder secret, a journal folder that is missing or not writable, "
               "a journal file this build cannot use; warnings for a key set twice and for a "
               "file other users can read while it holds the secret.\n"
               "--online also reaches the provider: the host resolves, TLS completes and one "
               "signed status request for a payment that cannot exist tells a refused signature "
               "from a working one.\n"
               "Exit 0 when clean, 1 with warnings only, 2 with mistakes.\n";
    }
    if (command == "demo") {
        return "usage: oxlenpay-till [global options] demo\n"
               "Runs a sale, its fiscal link, a partial refund, a cancel and a declined sale "
               "against a sandbox started for the run. Needs no network and no configuration.\n";
    }
    return "usage: oxlenpay-till [--plugin PATH] [--config FILE] [--ca-file PEM] [--json] "
           "[-v|--quiet] COMMAND ...\n"
           "       oxlenpay-till --version | --help\n"
           "  demo                                   (the default when no command is given)\n"
           "  sale   --amount 15.00 --token TOKEN [--currency 398]\n"
           "  refund --rrn ID --amount 5.00 --original 15.00 [--currency 398]\n"
           "  cancel --rrn ID [--amount 15.00] [--currency 398]\n"
           "  fiscal --rrn ID --qr URL\n"
           "  info\n"
           "  journal [--open] [--json]\n"
           "  journal report [--since TIME] [--until TIME] [--json]\n"
           "  journal reconcile [--since TIME] [--until TIME] [--json] [--metrics-file PATH]\n"
           "  journal resolve ID --note TEXT\n"
           "  recover [--json] [--metrics-file PATH]\n"
           "  metrics [--metrics-file PATH]\n"
           "  status --rrn ID [--json]\n"
           "  check-config [--online] [FILE]\n"
           "\n"
           "  --plugin PATH   the plug-in to load (default: the one beside the till)\n"
           "  --config FILE   read the \"OxlenPay:\" settings from FILE instead of the host path\n"
           "  --ca-file PEM   trust these CA certificates as well\n"
           "  --json          print one JSON object instead of a receipt\n"
           "  -v, --quiet     show the plug-in's info lines / no log lines at all\n"
           "Exit status: 0 approved, 1 declined, 2 bad usage or configuration, 3 plug-in "
           "not loaded, 4 outcome unknown (check the payment with the provider).\n"
           "`oxlenpay-till COMMAND --help` tells more about a command.\n";
}

bool parseCommandLine(const QStringList& arguments, TillCommand* command, QString* error)
{
    int i = 0;
    auto value = [&](const QString& option, QString* out) {
        if (i + 1 >= arguments.size()) {
            *error = QString("option %1 needs a value").arg(option);
            return false;
        }
        *out = arguments[++i];
        return true;
    };
    // Global options come before the command.
    for (; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == "--plugin") {
            if (!value(argument, &command->pluginPath)) {
                return false;
            }
        } else if (argument == "--config") {
            if (!value(argument, &command->configFile)) {
                return false;
            }
        } else if (argument == "--ca-file") {
            if (!value(argument, &command->caFile)) {
                return false;
            }
        } else if (argument == "--json") {
            command->json = true;
        } else if (argument == "-v" || argument == "--verbose") {
            command->verbosity = TillCommand::Verbosity::Verbose;
        } else if (argument == "--quiet") {
            command->verbosity = TillCommand::Verbosity::Quiet;
        } else if (argument == "-h" || argument == "--help") {
            command->help = true;
            return true;
        } else if (argument == "--version") {
            command->version = true;
            return true;
        } else if (argument.startsWith('-')) {
            *error = QString("unknown option %1").arg(argument);
            return false;
        } else {
            break;
        }
    }
    if (i < arguments.size()) {
        command->name = arguments[i++];
        command->commandGiven = true;
        if (!Commands.contains(command->name)) {
            *error = QString("unknown command %1").arg(command->name);
            return false;
        }
    }
    const CommandOptions& accepted = optionTable()[command->name];
    QSet<QString> seen;
    for (; i < arguments.size(); ++i) {
        const QString& option = arguments[i];
        if (option == "-h" || option == "--help") {
            command->help = true;
            return true;
        }
        if (command->name == "check-config" && !option.startsWith('-') &&
            command->checkedFile.isEmpty()) {
            command->checkedFile = option;
            continue;
        }
        if (command->name == "journal" && option == "report" && !command->report &&
            !command->resolve && !command->reconcile) {
            command->report = true;
            continue;
        }
        if (command->name == "journal" && option == "reconcile" && !command->reconcile &&
            !command->report && !command->resolve) {
            command->reconcile = true;
            continue;
        }
        if (command->name == "journal" && option == "resolve" && !command->resolve) {
            command->resolve = true;
            if (i + 1 >= arguments.size() || arguments[i + 1].startsWith('-')) {
                *error = "journal resolve needs the ID of the entry";
                return false;
            }
            command->resolvedId = arguments[++i];
            continue;
        }
        if (accepted.flags.contains(option)) {
            command->openOnly |= option == "--open";
            command->json |= option == "--json";
            command->csv |= option == "--csv";
            command->online |= option == "--online";
            continue;
        }
        if (!accepted.required.contains(option) && !accepted.optional.contains(option)) {
            *error = QString("%1 does not take %2").arg(command->name, option);
            return false;
        }
        QString text;
        if (!value(option, &text)) {
            return false;
        }
        seen.insert(option);
        if (option == "--token") {
            command->token = text;
        } else if (option == "--note") {
            command->note = text;
        } else if (option == "--id") {
            command->entryId = text;
        } else if (option == "--payment") {
            command->paymentId = text;
        } else if (option == "--since") {
            command->since = text;
        } else if (option == "--until") {
            command->until = text;
        } else if (option == "--rrn") {
            command->rrn = text;
        } else if (option == "--metrics-file") {
            command->metricsFile = text;
        } else if (option == "--qr") {
            // The receipt link a customer opens: a web address, nothing a phone would run.
            const QUrl link(text, QUrl::StrictMode);
            if (!link.isValid() || (link.scheme() != "https" && link.scheme() != "http") ||
                link.host().isEmpty()) {
                *error = QString("the fiscal link \"%1\" is not an http(s) address").arg(text);
                return false;
            }
            command->qr = text;
        } else if (option == "--currency") {
            bool ok = false;
            command->currency = text.toInt(&ok);
            if (!ok || command->currency <= 0 || command->currency > 999) {
                *error = QString("currency \"%1\" is not a numeric ISO 4217 code").arg(text);
                return false;
            }
        } else {
            qint32* target = option == "--original" ? &command->original : &command->amount;
            if (!parseAmount(text, target, error)) {
                return false;
            }
            command->hasAmount |= option == "--amount";
        }
    }
    for (const QString& option : accepted.required) {
        if (!seen.contains(option)) {
            *error = QString("%1 needs %2").arg(command->name, option);
            return false;
        }
    }
    if (command->csv && command->json) {
        *error = "journal prints --json or --csv, not both";
        return false;
    }
    if ((command->report || command->reconcile) &&
        (command->openOnly || command->csv || seen.contains("--id") || seen.contains("--payment") ||
         seen.contains("--amount"))) {
        *error = QString("journal %1 takes --since, --until and --json%2")
                     .arg(command->report ? "report" : "reconcile",
                          command->report ? "" : " and --metrics-file");
        return false;
    }
    if (command->name == "journal" && !command->reconcile && seen.contains("--metrics-file")) {
        *error = "--metrics-file goes with recover, journal reconcile and metrics";
        return false;
    }
    if (command->resolve != seen.contains("--note") ||
        (command->resolve && (command->openOnly || command->csv || seen.size() > 1))) {
        *error = command->resolve ? "journal resolve takes --note TEXT and nothing else"
                                  : "--note goes with journal resolve ID";
        return false;
    }
    if (command->resolve && command->note.trimmed().isEmpty()) {
        *error = "journal resolve needs a note that says how the entry was settled";
        return false;
    }
    return true;
}

} // namespace till
