#pragma once

#include <QString>

// Whether and where the window keeps its recording journal.
struct JournalOptions
{
    bool enabled = true;
    // Empty: the user's data folder (~/.local/share/kv930 on Linux).
    QString folder;

    // What the user set in kv930.conf (in the user's configuration folder):
    //   [journal]
    //   enabled=false      ; no journal at all
    //   folder=/some/path  ; keep it elsewhere
    static JournalOptions fromSettings();
    static JournalOptions disabled();
    static QString defaultFolder();
    QString resolvedFolder() const { return folder.isEmpty() ? defaultFolder() : folder; }
};
