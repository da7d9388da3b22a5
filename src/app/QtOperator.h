#pragma once
// The operator at the screen, for upgrades run from the window. An upgrade runs on a worker
// thread, but widgets live on the window's thread: each question is handed to that thread,
// shown there modally, and the worker waits for the answer.
#include <QObject>
#include <QPointer>
#include <QWidget>

#include "platform/Operator.h"

namespace rovenza {

class QtOperator final : public Operator {
public:
    // Construct on the window's thread.
    QtOperator();

    // The main window: owner of the message boxes and the dialogs' parent. Until it is set
    // (or once it is gone) they are shown without one.
    void setOwner(QWidget* owner);

    std::optional<std::vector<bool>> chooseDevices(const std::vector<std::string>& items) override;
    std::optional<int> chooseModuleType(int slot) override;
    void showMessage(const std::string& title, const std::string& text) override;

private:
    QObject relay_;  // lives on the window's thread; questions are run there
    QPointer<QWidget> owner_;
};

}  // namespace rovenza
