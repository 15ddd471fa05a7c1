#include "ui/shell_bound.h"

#include "model/app_model.h"

namespace orlune::ui {

void ShellBound::setShell(Shell* shell) {
    if (shell_ == shell) return;
    if (shell_) {
        disconnect(&shell_->model(), nullptr, this, nullptr);
        disconnect(shell_, nullptr, this, nullptr);
    }
    shell_ = shell;
    if (shell_) attach(*shell_);
    emit shellChanged();
    emit changed();
}

}  // namespace orlune::ui
