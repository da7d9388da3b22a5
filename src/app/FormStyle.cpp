#include "app/FormStyle.h"

#include <algorithm>
#include <map>

#include <QCheckBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>

namespace rovenza {

bool FormFontAvailable() {
    const QFont font = FormFont();
    return QFontInfo(font).family().compare(font.family(), Qt::CaseInsensitive) == 0;
}

bool InstallFormFont(const QString& file) {
    if (FormFontAvailable()) return true;
    if (!file.isEmpty() && QFileInfo::exists(file)) QFontDatabase::addApplicationFont(file);
    return FormFontAvailable();
}

namespace {

QStyleOptionButton ButtonOption(const QAbstractButton* button) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    return option;
}

}  // namespace

int CaptionRoom(const QWidget* control) {
    if (const auto* label = qobject_cast<const QLabel*>(control)) {
        int indent = label->indent();
        if (indent < 0) indent = label->frameWidth() > 0 ? label->fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2 : 0;
        return label->contentsRect().width() - 2 * label->margin() - indent;
    }
    if (const auto* button = qobject_cast<const QPushButton*>(control)) {
        QStyleOptionButton option = ButtonOption(button);
        if (button->autoDefault()) option.features |= QStyleOptionButton::AutoDefaultButton;
        if (button->isDefault()) option.features |= QStyleOptionButton::DefaultButton;
        if (button->isFlat()) option.features |= QStyleOptionButton::Flat;
        return button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
    }
    if (const auto* box = qobject_cast<const QCheckBox*>(control)) {
        const QStyleOptionButton option = ButtonOption(box);
        return box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box).width();
    }
    return 0;
}

int CaptionWidth(const QWidget* control) {
    if (const auto* label = qobject_cast<const QLabel*>(control))
        return label->fontMetrics().horizontalAdvance(label->text());
    if (qobject_cast<const QPushButton*>(control) || qobject_cast<const QCheckBox*>(control)) {
        const auto* button = static_cast<const QAbstractButton*>(control);
        return button->fontMetrics().size(Qt::TextShowMnemonic, button->text()).width();
    }
    return 0;
}

void FitCaptions(QWidget* form) {
    QList<QWidget*> controls = form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    std::map<const QWidget*, QRect> before;
    for (const QWidget* control : controls) before[control] = control->geometry();

    for (QWidget* control : controls) {
        const int lacking = CaptionWidth(control) - CaptionRoom(control);
        if (lacking > 0) control->resize(control->width() + lacking, control->height());
    }

    // Left to right by the design's positions, so that a control has found its place before
    // the controls on its right are placed after it.
    std::stable_sort(controls.begin(), controls.end(),
                     [&](const QWidget* a, const QWidget* b) { return before[a].left() < before[b].left(); });
    for (qsizetype i = 0; i < controls.size(); ++i) {
        const QRect& left = before[controls[i]];
        for (qsizetype j = i + 1; j < controls.size(); ++j) {
            const QRect& right = before[controls[j]];
            const bool sameBand = left.top() <= right.bottom() && right.top() <= left.bottom();
            if (!sameBand || right.left() <= left.right()) continue;
            const int gap = std::min(right.left() - left.right() - 1, kFitGap);
            const int wanted = controls[i]->geometry().right() + 1 + gap;
            if (controls[j]->x() < wanted) controls[j]->move(wanted, controls[j]->y());
        }
    }

    int width = form->width();
    for (const QWidget* control : controls) {
        const int margin = std::clamp(form->width() - before[control].right() - 1, 0, kFitMargin);
        width = std::max(width, control->geometry().right() + 1 + margin);
    }
    if (width == form->width()) return;
    if (form->minimumWidth() == form->maximumWidth()) form->setFixedWidth(width);
    else form->resize(width, form->height());
}

}  // namespace rovenza
