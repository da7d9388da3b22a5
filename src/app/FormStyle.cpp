#include "app/FormStyle.h"

#include <algorithm>
#include <vector>

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
    const QList<QWidget*> controls = form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    std::vector<FitBox> boxes;
    for (const QWidget* control : controls) {
        const QRect g = control->geometry();
        boxes.push_back({g.x(), g.y(), g.width(), g.height(), CaptionRoom(control), CaptionWidth(control)});
    }
    const int width = rovenza::FitCaptions(boxes, form->width());
    for (qsizetype i = 0; i < controls.size(); ++i) {
        const FitBox& box = boxes[static_cast<std::size_t>(i)];
        controls[i]->setGeometry(box.left, box.top, box.width, box.height);
    }
    if (width == form->width()) return;
    if (form->minimumWidth() == form->maximumWidth()) form->setFixedWidth(width);
    else form->resize(width, form->height());
}

}  // namespace rovenza
