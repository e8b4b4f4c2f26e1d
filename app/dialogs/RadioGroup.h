// A titled group of radio buttons with one index for the checked item (-1 for none), laid
// out in columns; the property store keeps the index as ItemIndex.
#pragma once

#include <QButtonGroup>
#include <QGroupBox>
#include <QRadioButton>
#include <QStringList>

namespace quelt {

class TRadioGroup : public QGroupBox {
  Q_OBJECT
  Q_PROPERTY(int ItemIndex READ ItemIndex WRITE SetItemIndex NOTIFY ItemIndexChanged)

 public:
  TRadioGroup(const QString& name, const QString& title, const QStringList& items, int columns,
              int itemIndex, QWidget* parent);

  int ItemIndex() const { return buttons_.checkedId(); }
  // An index out of range clears the check, as the group allows.
  void SetItemIndex(int index);
  QRadioButton* Item(int index) const;

 signals:
  void ItemIndexChanged(int index);

 private:
  QButtonGroup buttons_;
};

}  // namespace quelt
