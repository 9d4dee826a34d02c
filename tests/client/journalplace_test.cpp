// Where the journal lives when no `journal` line names it: found the same way by every
// process, made only where it can be.
#include "journalplace.h"

#include "settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <functional>

#include <gtest/gtest.h>

namespace {

using oxlenpay::JournalPlace;

TEST(JournalPlace, TheFirstJournalFoundOrTheFirstPlaceThatCanHoldOne)
{
    QTemporaryDir root;
    const QString config = root.filePath("etc/oxlenpay"), state = root.filePath("state"),
                  home = root.filePath("home");
    const QString beside = config + "/journal.sqlite", inState = state + "/oxlenpay/journal.sqlite",
                  inHome = home + "/.local/state/oxlenpay/journal.sqlite";
    qputenv("XDG_STATE_HOME", state.toUtf8());
    qputenv("HOME", home.toUtf8());
    const auto touch = [](const QString& path) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    };
    struct Case {
        const char* name;
        std::function<void()> prepare;
        QString configured;
        QString found;   // what every command uses
        QString created; // where a sale makes one; empty: nowhere
    };
    const QString none = oxlenpay::settings::JournalNotConfigured;
    const QList<Case> cases = {
        {"a configured path is used as written", [] {}, "/srv/j.sqlite", "/srv/j.sqlite",
         "/srv/j.sqlite"},
        {"a new journal goes beside the configuration", [&] { QDir().mkpath(config); }, none, "",
         beside},
        {"a missing configuration folder is made in a writable parent",
         [&] { QDir().mkpath(root.filePath("etc")); }, none, "", beside},
        {"a parent nobody may write sends it to the state folder",
         [&] {
             QDir().mkpath(root.filePath("etc"));
             ::chmod(QFile::encodeName(root.filePath("etc")).constData(), 0500);
         },
         none, "", ::geteuid() == 0 ? beside : inState},
        {"a journal already in the home folder is the one",
         [&] {
             QDir().mkpath(config);
             touch(inHome);
         },
         none, inHome, inHome},
        {"the first of two journals is the one",
         [&] {
             touch(inState);
             touch(inHome);
         },
         none, inState, inState},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ::chmod(QFile::encodeName(root.filePath("etc")).constData(), 0700);
        for (const QString& folder : {root.filePath("etc"), state, home}) {
            QDir(folder).removeRecursively();
        }
        c.prepare();
        const JournalPlace place(c.configured, config);
        QString problem;
        EXPECT_EQ(place.resolve(false, &problem), c.found);
        EXPECT_EQ(place.resolve(true, &problem), c.created) << problem.toStdString();
        if (!c.created.isEmpty() && c.configured == none) {
            EXPECT_TRUE(QFileInfo(QFileInfo(c.created).absolutePath()).isDir());
        }
    }
    EXPECT_TRUE(JournalPlace("", config).isOff());
    EXPECT_TRUE(JournalPlace("", config).candidates().isEmpty());
    qunsetenv("XDG_STATE_HOME");
}

} // namespace
