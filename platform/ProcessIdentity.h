#pragma once

#include <QString>
#include <QByteArray>
#include <QStringList>
#include <functional>
#include <optional>

// How a Linux process is recognised as an application: the pieces that
// RunningApplications puts together, each a pure function of what /proc shows.
namespace ProcessIdentity {

// The application id in a systemd unit name given by the desktop session:
// app-[<launcher>-]<ID>[@<n>].service or app-[<launcher>-]<ID>-<n>.scope.
std::optional<QString> applicationIdFromUnit(const QString &unit);

// "com.xk72.Charles" for a Java VM (its executable or its argv[0] named
// "java") whose main program is Charles: the archive charles.jar (4.x), the
// module com.charlesproxy (5.x) or one of their main classes. Launcher
// scripts and other programs that merely name charles are not Charles.
std::optional<QString> charlesIdentifier(const QString &executable, const QStringList &arguments);

// The words of a java argument file: blanks and line ends separate them,
// single or double quotes hold blanks (a backslash inside them escapes the
// next character, and before a line end joins the next line), and "#" at the
// start of a word makes the rest of its line a comment.
QStringList javaArgumentFileWords(const QByteArray &text);

// A Java VM's arguments as its launcher reads them: each "@file" before
// "--disable-@files" stands for the words of that file, as readFile gives it
// (left as it is when the file cannot be read), and "@@word" for "@word".
// Other programs' arguments come back unchanged.
QStringList withJavaArgumentFiles(const QString &executable, const QStringList &arguments,
                                  const std::function<std::optional<QByteArray>(const QString &)> &readFile);

// The program file an interpreter runs: the archive a Java VM runs with -jar,
// or the script given to sh, bash, python and the like. Nothing for other
// programs.
std::optional<QString> interpretedProgram(const QString &executable, const QStringList &arguments);

// The nearest enclosing folder whose name ends in ".app".
std::optional<QString> enclosingBundle(const QString &path);

} // namespace ProcessIdentity
