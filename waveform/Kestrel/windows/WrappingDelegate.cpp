#include "WrappingDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

namespace kestrel {
namespace {

// The blank the style keeps on each side of a cell's text.
int TextMargin(const QStyleOptionViewItem& cell) {
    const QStyle* style = cell.widget != nullptr ? cell.widget->style() : QApplication::style();
    return style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, cell.widget) + 1;
}

// Lays the text out in lines of `width`; returns the size it takes.
QSizeF LayOut(QTextLayout& layout, qreal width) {
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal height = 0, widest = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max<qreal>(width, 1));
        line.setPosition(QPointF(0, height));
        height += line.height();
        widest = std::max(widest, line.naturalTextWidth());
    }
    layout.endLayout();
    return {widest, height};
}

QPalette::ColorGroup GroupOf(const QStyleOptionViewItem& cell) {
    if (!(cell.state & QStyle::State_Enabled))
        return QPalette::Disabled;
    return cell.state & QStyle::State_Active ? QPalette::Normal : QPalette::Inactive;
}

}  // namespace

WrappingDelegate::WrappingDelegate(QObject* parent, std::function<int(const QModelIndex&)> widthOf,
                                   Asks asks)
    : QStyledItemDelegate(parent), widthOf_(std::move(widthOf)), asks_(asks) {}

QSize WrappingDelegate::sizeHint(const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    QStyleOptionViewItem cell(option);
    initStyleOption(&cell, index);
    const int margin = TextMargin(cell);
    QTextLayout layout(cell.text, cell.font);
    const QSizeF text = LayOut(layout, widthOf_(index) - 2 * margin);
    QStyleOptionViewItem unbounded(option);
    unbounded.rect = QRect();  // one line, with the style's padding
    const QSize plain = QStyledItemDelegate::sizeHint(unbounded, index);
    const int padding = std::max(0, plain.height() - cell.fontMetrics.height());
    const int wrapped = static_cast<int>(std::ceil(text.width())) + 2 * margin;
    return {asks_ == Asks::kNaturalWidth ? plain.width() : std::min(plain.width(), wrapped),
            std::max(plain.height(), static_cast<int>(std::ceil(text.height())) + padding)};
}

void WrappingDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    QStyleOptionViewItem cell(option);
    initStyleOption(&cell, index);
    const QString text = cell.text;
    cell.text.clear();  // the style draws the background, selection and focus
    const QStyle* style = cell.widget != nullptr ? cell.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, cell.widget);

    const int margin = TextMargin(cell);
    const QRect area = cell.rect.adjusted(margin, 0, -margin, 0);
    QTextLayout layout(text, cell.font);
    const QSizeF size = LayOut(layout, area.width());
    painter->save();
    painter->setFont(cell.font);
    painter->setPen(cell.palette.color(GroupOf(cell), cell.state & QStyle::State_Selected
                                                          ? QPalette::HighlightedText
                                                          : QPalette::Text));
    layout.draw(painter, QPointF(area.left(), area.top() + (area.height() - size.height()) / 2));
    painter->restore();
}

}  // namespace kestrel
