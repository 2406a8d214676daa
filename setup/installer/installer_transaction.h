// One run's change of an install folder and the products store, made or
// undone as a whole: a journal names each step before it is taken, so that
// a run killed outright is finished or undone by the next run that takes
// the installer lock. Internal to the installer's engine.
#pragma once

#include "unique_fd.h"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace krv::setup {

struct InstalledProduct;

using StepHook = std::function<void(std::string_view)>;
using LogHook = std::function<void(std::string_view)>;

// Tells the step hook (if any) what kind of step is about to be taken.
void Step(const StepHook &step, std::string_view kind);

// The machine's store and lock are root's: an ordinary user is told what
// would help rather than left with a bare "Permission denied".
void LogRightsNeeded(int error, const std::function<void(std::string_view)> &log);

// Removes those of the folders that are `root` or above it when they are
// empty, innermost first; the first one that is not (something else lives
// there) stays, and so do those above it. Others are passed over.
void RemoveEmptyChain(const std::string &root, std::vector<std::string> folders,
                      const StepHook &step);

// Finishes or undoes what a dead run's change did, from its journal. Called
// with the installer lock held. False (with log lines saying why) when the
// journal cannot be read, cannot be a change this installer writes, names
// no install folder while work folders remain, or its change cannot be
// finished or undone whole: the journal then stays for a later run, and no
// new change may start.
bool RecoverDeadRun(const LogHook &log, const StepHook &step);

// The change one run makes to an install folder and the products store, as
// its journal names it.
struct Change {
    std::filesystem::path root;
    std::string backup;                 // the backup work folder's name in the root
    std::vector<std::string> folders;   // made by the run, in the order made
    std::vector<std::string> moved;     // installed files moved to the backup
    std::vector<std::string> placed;    // files put in place
    std::string record;                 // product whose new record is staged
    std::string unrecord;               // product whose record goes
    std::vector<std::string> unfolders; // at or above the root, to go when empty
    bool committed = false;
    // Why the journal cannot be a change this installer writes; empty when
    // it can be one.
    std::string foreign;
};

// The journal of the change in progress, next to the installer lock: one
// "kind<TAB>value" line per step, written and flushed before the step it
// names. "root" the install folder; "folder" a folder about to be made;
// "backup" the work folder that keeps replaced files; "moved" an installed
// file about to go to it; "placed" a file about to be put in place; "record"
// the product whose new record is about to be staged beside the old one, or
// "unrecord" the product whose record goes; "unfolder" a folder at or
// above the install folder that goes with the record when it is empty (one
// the product's first install made); "commit" once all of that is done. A
// run that dies leaves it behind, and the next run under the lock finishes
// (commit seen) or undoes the change from it.
class Journal {
  public:
    static std::string Path();
    bool Start(const std::string &root, const StepHook &step);
    bool Add(std::string_view kind, std::string_view value = {});
    void End();
    // Closes the journal and leaves it for the next run.
    void Keep();

    // The change a journal names; only whole lines count (the last one,
    // cut short, was never acted on). Lines in another order or of another
    // shape than a run writes them make the journal foreign.
    static Change Read(const std::string &text);

  private:
    UniqueFd m_fd;
    StepHook m_step;
};

// The files of one change of an install folder and the product's record,
// made or undone as a whole.
class FileTransaction {
  public:
    FileTransaction(std::filesystem::path root, LogHook log, StepHook step);
    ~FileTransaction();

    const std::filesystem::path &Root() const { return m_change.root; }

    bool Begin(bool needStaging);

    const std::string &Staging() const { return m_staging; }
    // The folders Begin made for the install folder: itself and those above.
    const std::vector<std::string> &RootFolders() const { return m_rootFolders; }

    // Moves an installed file away (kept until the commit).
    bool Remove(const std::string &relative);

    // Puts a staged file in place, moving the file it replaces away.
    bool Place(const std::string &relative);

    // Makes the change final: the new record of the product (or its
    // removal, with those of `unfolders` at or above the install folder,
    // which then go when empty) goes into the
    // journal with the commit, and is put in place after it. False (and
    // everything undone) when the record cannot be written; false too when
    // the record cannot be put in place (or removed) after the commit: the
    // files then stay the new ones and the journal stays, committed, for the
    // next run to finish.
    bool Commit(const InstalledProduct *record, const std::string &unrecord,
                const std::vector<std::string> &unfolders = {});

    // Undoes the change; a file that cannot be put back keeps the backup
    // folder and the journal for the next run.
    void Rollback();

  private:
    bool Journaled(std::string_view kind, std::string_view value = {});
    bool MakeFolders(const std::filesystem::path &folder, std::vector<std::string> *made = nullptr);
    void Log(const std::string &line);

    LogHook m_log;
    StepHook m_step;
    Journal m_journal;
    Change m_change;
    std::string m_staging;
    std::vector<std::string> m_rootFolders;
    bool m_started = false;
    bool m_done = false;
};

} // namespace krv::setup
