#pragma once

#include <QString>
#include <optional>

// The two modal dialogs of the port entry, behind an interface so that the
// companion's decisions can be tested without a person at the keyboard.
class PortPrompt
{
public:
    virtual ~PortPrompt() = default;

    // Shows the port dialog with the entry's initial text and waits until it
    // is closed. The entry's text when "保存" closed it, otherwise nothing.
    virtual std::optional<QString> askForPort(const QString &initialText) = 0;
    // Shows "端口需在 1–65535 之间" and waits until it is dismissed.
    virtual void showRangeAlert() = 0;
};

// The real dialogs, on Qt Widgets.
class DialogPortPrompt final : public PortPrompt
{
public:
    std::optional<QString> askForPort(const QString &initialText) override;
    void showRangeAlert() override;
};
