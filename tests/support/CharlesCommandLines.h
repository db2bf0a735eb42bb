#pragma once

// The command lines under which Charles runs on Linux, and ones that only
// name it, after Charles's own launchers and packages: the 4.x .deb's
// /usr/bin/charles (bash, runs java without exec, CHARLES_LIB=
// /usr/lib/charles-proxy), the 4.x tarball's charles/bin/charles (the same
// with paths through bin/..), the 5.x charles5 (a module launch of
// com.charlesproxy, main class com.charlesproxy.main.MainWithClassLoader).
// Blanks separate the arguments.

#include <QStringList>

struct CharlesCommandLine
{
    // What /proc/PID/exe points to, and the arguments.
    QString executable, commandLine;
    bool isCharles;

    QStringList arguments() const { return commandLine.split(QLatin1Char(' ')); }
};

inline const QString jvm = QStringLiteral("/usr/lib/jvm/java-17-openjdk-amd64/bin/java");
inline const CharlesCommandLine charlesCommandLines[] = {
    {"/usr/lib/charles-proxy/jdk/bin/java", "/usr/lib/charles-proxy/jdk/bin/java -Xmx1024M -Dcharles.config="
     "~/.charles.config -Djava.library.path=/usr/lib/charles-proxy -jar /usr/lib/charles-proxy/charles.jar", true},
    {"/opt/charles/lib/jdk/bin/java", "/opt/charles/bin/../lib/jdk/bin/java -Xmx1024M -Dcharles.config="
     "~/.charles.config -Djava.library.path=/opt/charles/bin/../lib -jar /opt/charles/bin/../lib/charles.jar", true},
    {"/usr/lib/charles-proxy5/jdk/bin/java", "/usr/lib/charles-proxy5/jdk/bin/java -Xmx1024M -Dcharles.config="
     "~/.charles.config -XX:+UseZGC -Djava.library.path=/usr/lib/charles-proxy5 --add-opens "
     "java.base/java.lang=ALL-UNNAMED --module-path /usr/lib/charles-proxy5 -m com.charlesproxy", true},
    {jvm, "java -p /opt/charles/lib -m com.charlesproxy/com.charlesproxy.main.MainWithClassLoader", true},
    {jvm, "java --module-path /opt/charles/lib --module com.charlesproxy", true},
    {jvm, "java --module-path=/opt/charles --module=com.charlesproxy/com.charlesproxy.main.MainWithClassLoader", true},
    {"/usr/bin/java", "java -cp /opt/charles/lib/charles.jar com.charlesproxy.main.MainWithClassLoader", true},
    {"/usr/bin/java", "java -Xmx1g com.xk72.charles.gui.MainWithClassLoader", true},
    // A wrapper that execs java under its own name (exec -a).
    {"/nix/store/a1-openjdk-17/bin/java", "charles -Xmx1024M -jar /nix/store/b2-charles-4.6.4/share/charles.jar", true},

    // The launchers stay alive beside the VM, with lower pids; other tools
    // only mention it.
    {"/usr/bin/bash", "/bin/bash -e /usr/bin/charles", false}, {"/usr/bin/dash", "/bin/sh /usr/bin/charles5", false},
    {"/usr/bin/timeout", "timeout 8h java -jar /usr/lib/charles-proxy/charles.jar", false},
    {"/usr/bin/unzip", "unzip -l /usr/lib/charles-proxy/charles.jar", false},
    // Option values and the program's own arguments are not the main program.
    {"/usr/bin/java", "java -jar /opt/tool.jar -jar /usr/lib/charles-proxy/charles.jar", false},
    {"/usr/bin/java", "java -cp com.charlesproxy org.example.Main -m com.charlesproxy", false},
    {"/usr/bin/java", "java -p /opt/charles/lib --add-modules com.charlesproxy -m org.example.app", false},
    {"/usr/bin/java", "java -Dcharles.config=x -version", false},
    // Names that only end with or contain Charles's.
    {"/usr/bin/java", "java -jar /opt/tools/notcharles.jar", false},
    {"/usr/bin/java", "java -jar /opt/charles.jar.d/tool.jar", false},
    {"/usr/bin/java", "java -m com.charlesproxy.tools/org.example.Main", false},
    {"/usr/bin/java", "java org.example.com.xk72.charles.gui.MainWithClassLoader", false},
};
