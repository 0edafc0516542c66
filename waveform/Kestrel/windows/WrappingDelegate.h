// Cell text that wraps to its cell's width: at word boundaries, and anywhere
// inside a word too long for a line (an "*IDN?" reply or a device path has
// no blanks), so that a list shows every text whole without scrolling
// sideways. Rows are as tall as their wrapped texts.
#pragma once

#include <QStyledItemDelegate>
#include <functional>

namespace kestrel {

class WrappingDelegate : public QStyledItemDelegate {
  public:
    // The width a cell asks for: its whole text on one line (so that a
    // column sized to its contents grows to it), or what it takes wrapped.
    enum class Asks { kNaturalWidth, kWrappedWidth };

    // `widthOf` gives the width a cell of the view has for the index.
    WrappingDelegate(QObject* parent, std::function<int(const QModelIndex&)> widthOf, Asks asks);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

  private:
    std::function<int(const QModelIndex&)> widthOf_;
    Asks asks_;
};

}  // namespace kestrel
