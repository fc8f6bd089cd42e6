/*
 * plan_report.cc - the dry run's lines and the check's differences, both
 * read from one plan.
 */
#include "plan_report.h"

#include <cstdio>

#include "actions.h"
#include "differences.h"
#include "install_record.h"

namespace {

std::string octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode));
  return text;
}

std::string joined(const std::vector<std::string> &lines) {
  std::string text;
  for (const std::string &line : lines)
    text += (text.empty() ? "" : "\n") + line;
  return text;
}

bool missing(const PlannedFile &file) { return !file.there || !file.same.has_value(); }

// Where a file changed by hand goes, for the dry run.
std::string keptLine(const InstallPlan &plan, const PlanStep &step) {
  if (plan.keepChanged)
    return "leave " + step.shown +
           " as it is (changed since the last installation), and write "
           "the new one to " +
           step.shown + kKeptNewSuffix;
  return "keep " + step.shown + " as " + step.file.keptShown +
         " (changed since the last installation)";
}

std::string verb(const PlannedFile &file) { return file.unchanged ? "unchanged " : "write "; }

class Differences {
 public:
  explicit Differences(const InstallPlan &plan) : plan_(plan) {}

  void add(std::string line, std::string diff = {}) {
    found_.push_back({std::move(line), std::move(diff)});
  }

  // A file the run writes against the one there.
  void compare(const std::string &shown, const PlannedFile &file, const std::string &diff) {
    if (missing(file)) {
      add(shown + ": missing", diff);
      return;
    }
    if (file.unchangedInPlace) return;
    if (file.same == false) {
      if (file.kept.empty()) {
        add(shown + ": contents differ from what the installation writes", diff);
      } else if (plan_.keepChanged) {
        // Left as it is: only the new one beside it is the installation's.
        if (!file.besideHolds)
          add(shown +
              ": changed since the last installation (the installation leaves it, "
              "and writes the new one to " +
              shown + kKeptNewSuffix + ")");
      } else {
        keptAt(shown, file, diff);
      }
    }
    modeOf(shown, file);
  }

  // The mode of a regular file that the run changes.
  void modeOf(const std::string &shown, const PlannedFile &file) {
    if (file.regular && file.has != file.given)
      add(shown + ": mode " + octal(file.has) + ", the installation gives it " + octal(file.given));
  }

  void keptAt(const std::string &shown, const PlannedFile &file, const std::string &diff = {}) {
    add(shown + ": changed since the last installation (the installation keeps it as " +
            file.keptShown + ")",
        diff);
    if (!file.keptThere)
      add(file.keptShown + ": missing (the installation keeps the changed " + shown + " there)");
  }

  void settings(const PlannedEnd &end) {
    const PlannedFile &file = end.settings;
    const std::string &shown = end.settingsShown;
    if (missing(file)) {
      add(shown + ": missing", plan_.diffs == DiffDetail::kSized  ? end.newFileLine
                               : plan_.diffs == DiffDetail::kFull ? joined(end.changes)
                                                                  : "");
    } else if (file.same == false) {
      add(shown + ": contents differ from what the installation writes" +
              (end.changes.empty() ? "" : " (" + ChangedKeys(end.changes) + ")"),
          end.changes.empty()                ? end.lineDiff
          : plan_.diffs != DiffDetail::kNone ? joined(end.changes)
                                             : "");
    }
    for (const std::string &oldest : end.backupRemovals)
      add(oldest + ": present (the installation removes it: " + BackupsKept(plan_.keepBackups) +
          ")");
    for (const PlannedEnd::Move &move : end.backupRenames)
      add(move.to + ": " + (move.toThere ? "replaced" : "missing") + " (the installation moves " +
          move.from + " there)");
    if (!end.backup.empty() && !end.backupReused)
      add(end.backup + ": " + (end.backupThere ? "replaced" : "missing") +
          " (the installation keeps the settings file it replaces there)");
    if (!missing(file)) modeOf(shown, file);
  }

  std::vector<Difference> take() { return std::move(found_); }

 private:
  const InstallPlan &plan_;
  std::vector<Difference> found_;
};

}  // namespace

std::vector<std::string> PlanLines(const InstallPlan &plan) {
  std::vector<std::string> lines;
  const bool diffs = plan.diffs != DiffDetail::kNone;
  for (const PlanStep &step : plan.steps) {
    switch (step.kind) {
      case StepKind::kSettings:
        lines.push_back(verb(plan.end ? plan.end->settings : PlannedFile{}) + step.shown + " " +
                        step.words);
        break;
      case StepKind::kStore:
        lines.push_back("store " + step.words);
        break;
      case StepKind::kFile:
        if (!step.file.kept.empty()) lines.push_back(keptLine(plan, step));
        lines.push_back(verb(step.file) + step.shown + " " + step.words);
        if (diffs && !step.blocked && !step.file.diff.empty()) lines.push_back(step.file.diff);
        break;
      case StepKind::kCreate:
        lines.push_back("create " + step.shown + " " + step.words);
        break;
      case StepKind::kRename:
        lines.push_back("rename " + step.shown + " to " + step.toShown);
        break;
      case StepKind::kRemove:
        lines.push_back(step.file.kept.empty()
                            ? "remove " + step.shown
                            : "keep " + step.shown + " as " + step.file.keptShown +
                                  " (changed since the last installation)");
        break;
      case StepKind::kCompile:
        if (!step.file.kept.empty()) lines.push_back(keptLine(plan, step));
        lines.push_back("compile " + step.shown + " (" + step.why + "): " + step.command);
        break;
      case StepKind::kNotice:
        lines.push_back("send the installation notice: " + step.command);
        break;
    }
  }
  if (!plan.end) return lines;
  const PlannedEnd &end = *plan.end;
  for (const std::string &oldest : end.backupRemovals)
    lines.push_back("remove " + oldest + " (" + BackupsKept(plan.keepBackups) + ")");
  for (const PlannedEnd::Move &move : end.backupRenames)
    lines.push_back("rename " + move.from + " to " + move.to);
  if (!end.backup.empty()) lines.push_back("keep " + end.settingsShown + " as " + end.backup);
  if (diffs && end.tooLarge) {
    lines.push_back(*end.tooLarge);
  } else if (plan.diffs == DiffDetail::kSized && end.newFile) {
    lines.push_back(end.newFileLine);
  } else if (diffs) {
    lines.insert(lines.end(), end.changes.begin(), end.changes.end());
  }
  lines.push_back(verb(end.record) + end.recordShown +
                  ", the record of the files of this installation");
  return lines;
}

std::vector<Difference> PlanDifferences(const InstallPlan &plan) {
  Differences found(plan);
  for (const PlanStep &step : plan.steps) {
    // A step the run could not take has been told as the run tells it.
    if (step.blocked) continue;
    switch (step.kind) {
      case StepKind::kFile:
        if (step.file.made) found.compare(step.shown, step.file, step.file.diff);
        break;
      case StepKind::kCreate:
        if (step.file.made) found.add(step.shown + ": missing", step.file.diff);
        break;
      case StepKind::kRename:
        found.add(step.toShown + ": missing (the installation would rename " + step.shown +
                  " to it)");
        break;
      case StepKind::kRemove:
        found.add(step.file.kept.empty()
                      ? step.shown + ": present (the installation removes it)"
                      : step.shown +
                            ": changed since the last installation (the installation keeps it "
                            "as " +
                            step.file.keptShown + " instead of removing it)");
        break;
      case StepKind::kCompile:
        if (!step.compiled) break;
        found.add(step.shown + ": " + step.why);
        if (!step.file.kept.empty()) found.keptAt(step.shown, step.file);
        break;
      case StepKind::kSettings:
      case StepKind::kStore:
      case StepKind::kNotice:
        break;
    }
  }
  if (plan.end) {
    found.settings(*plan.end);
    // The record last; what changes in it is what the lines before tell.
    found.compare(plan.end->recordShown, plan.end->record, {});
  }
  return found.take();
}

std::vector<HandEdited> PlanHandEdited(const InstallPlan &plan) {
  std::vector<HandEdited> found;
  if (plan.keepChanged) return found;
  for (const PlanStep &step : plan.steps) {
    const PlannedFile &file = step.file;
    if (step.kind != StepKind::kFile || step.blocked || !file.made || file.kept.empty() ||
        missing(file) || file.unchangedInPlace || file.same != false)
      continue;
    found.push_back({step.shown, step.path, file.kept, file.diff});
  }
  return found;
}
