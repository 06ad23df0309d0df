#include "platform/qt/list_box.h"

#include <algorithm>

#include <QEvent>
#include <QHeaderView>
#include <QStringList>
#include <QTableWidget>

#include "platform/valstr.h"

namespace platform {

// Re-applies the column widths whenever the list is resized, as shares of the
// width follow the list's size.
class ListBox::Filter : public QObject {
 public:
  explicit Filter(ListBox* owner) : owner_(owner) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Resize) owner_->ApplyWidths();
    return QObject::eventFilter(watched, event);
  }

 private:
  ListBox* owner_;
};

namespace {
// Scope guard marking writes by code, whose cell changes are not the user's.
struct CodeWrite {
  explicit CodeWrite(int& depth) : depth_(depth) { ++depth_; }
  ~CodeWrite() { --depth_; }
  CodeWrite(const CodeWrite&) = delete;
  CodeWrite& operator=(const CodeWrite&) = delete;
  int& depth_;
};
}  // namespace

ListBox::ListBox(std::string name, int index)
    : Control(std::move(name), index), table_(new QTableWidget) {
  SetWidget(table_);
  auto* filter = new Filter(this);
  filter->setParent(table_);
  table_->viewport()->installEventFilter(filter);
  table_->setColumnCount(1);
  editableColumns_.assign(1, false);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->hide();
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table_->verticalHeader()->setDefaultSectionSize(18);
  table_->setShowGrid(false);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  table_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                          QAbstractItemView::EditKeyPressed);
  QObject::connect(table_, &QTableWidget::itemChanged, table_, [this](QTableWidgetItem* item) {
    if (codeWrites_ == 0) CellAction(item->row(), item->column());
  });
  QObject::connect(table_, &QTableWidget::itemSelectionChanged, table_,
                   [this] { NoteSelection(); });
}

int ListBox::ColumnCount() const {
  return table_->columnCount();
}

void ListBox::SetColumnCount(int count) {
  if (count < 1) count = 1;
  CodeWrite guard(codeWrites_);
  table_->setColumnCount(count);
  editableColumns_.resize(static_cast<std::size_t>(count), false);
  for (int row = 0; row < table_->rowCount(); ++row) {
    for (int column = 0; column < count; ++column) {
      if (table_->item(row, column) == nullptr) SetCell(row, column, "");
    }
  }
  ApplyWidths();
}

void ListBox::SetColumnWidths(const std::string& widths) {
  widths_ = widths;
  ApplyWidths();
}

void ListBox::ApplyWidths() {
  const int columns = table_->columnCount();
  const int total = table_->viewport()->width();
  std::vector<int> px(static_cast<std::size_t>(columns), -1);
  const QStringList parts = ToQ(widths_).split(QChar(','));
  int used = 0;
  for (int c = 0; c < columns && c < parts.size(); ++c) {
    const QString part = parts[c].trimmed();
    if (part.isEmpty() || part == QLatin1String("*")) continue;
    const double value = Val(FromQ(part));
    px[static_cast<std::size_t>(c)] = part.endsWith(QChar('%'))
                                          ? static_cast<int>(total * value / 100.0)
                                          : static_cast<int>(value);
    used += px[static_cast<std::size_t>(c)];
  }
  int open = 0;
  for (int w : px) open += (w < 0) ? 1 : 0;
  const int share = open > 0 ? std::max(0, total - used) / open : 0;
  for (int c = 0; c < columns; ++c) {
    const int w = px[static_cast<std::size_t>(c)];
    table_->setColumnWidth(c, w < 0 ? share : w);
  }
}

int ListBox::ColumnWidth(int column) const {
  return table_->columnWidth(column);
}

void ListBox::SetHeading(const std::vector<std::string>& heading) {
  if (heading.empty()) {
    table_->horizontalHeader()->hide();
    return;
  }
  QStringList labels;
  for (const std::string& h : heading) labels << ToQ(h);
  table_->setHorizontalHeaderLabels(labels);
  table_->horizontalHeader()->show();
}

bool ListBox::HasHeading() const {
  return !table_->horizontalHeader()->isHidden();
}

std::string ListBox::Heading(int column) const {
  const QTableWidgetItem* item = table_->horizontalHeaderItem(column);
  return item == nullptr ? std::string() : FromQ(item->text());
}

void ListBox::AddRow(const std::string& text) {
  const int row = table_->rowCount();
  {
    CodeWrite guard(codeWrites_);
    table_->insertRow(row);
  }
  const QStringList cells = ToQ(text).split(QChar('\t'));
  for (int column = 0; column < table_->columnCount(); ++column) {
    SetCell(row, column, column < cells.size() ? FromQ(cells[column]) : std::string());
  }
}

void ListBox::RemoveRow(int row) {
  if (row < 0 || row >= table_->rowCount()) return;
  table_->removeRow(row);
  NoteSelection();
}

void ListBox::DeleteAllRows() {
  table_->setRowCount(0);
  NoteSelection();
}

int ListBox::ListCount() const {
  return table_->rowCount();
}

std::string ListBox::List(int row) const {
  return Cell(row, 0);
}

std::string ListBox::Cell(int row, int column) const {
  const QTableWidgetItem* item = table_->item(row, column);
  return item == nullptr ? std::string() : FromQ(item->text());
}

void ListBox::SetCell(int row, int column, const std::string& text) {
  if (row < 0 || row >= table_->rowCount() || column < 0 || column >= table_->columnCount()) return;
  CodeWrite guard(codeWrites_);
  QTableWidgetItem* item = table_->item(row, column);
  if (item == nullptr) {
    item = new QTableWidgetItem;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (editableColumns_[static_cast<std::size_t>(column)]) flags |= Qt::ItemIsEditable;
    item->setFlags(flags);
    table_->setItem(row, column, item);
  }
  item->setText(ToQ(text));
}

void ListBox::SetColumnEditable(int column, bool editable) {
  if (column < 0 || column >= table_->columnCount()) return;
  editableColumns_[static_cast<std::size_t>(column)] = editable;
  for (int row = 0; row < table_->rowCount(); ++row) SetCellEditable(row, column, editable);
}

void ListBox::SetCellEditable(int row, int column, bool editable) {
  QTableWidgetItem* item = table_->item(row, column);
  if (item == nullptr) return;
  CodeWrite guard(codeWrites_);
  item->setFlags(editable ? (item->flags() | Qt::ItemIsEditable)
                          : (item->flags() & ~Qt::ItemIsEditable));
}

bool ListBox::CellEditable(int row, int column) const {
  const QTableWidgetItem* item = table_->item(row, column);
  return item != nullptr && (item->flags() & Qt::ItemIsEditable);
}

void ListBox::EditCell(int row, int column) {
  QTableWidgetItem* item = table_->item(row, column);
  if (item == nullptr || !(item->flags() & Qt::ItemIsEditable)) return;
  table_->setCurrentItem(item);
  table_->editItem(item);
}

int ListBox::ListIndex() const {
  return selected_;
}

void ListBox::SetListIndex(int index) {
  if (index < -1 || index >= table_->rowCount()) return;
  if (index == -1) {
    table_->clearSelection();
  } else {
    table_->selectRow(index);
  }
}

void ListBox::NoteSelection() {
  const QList<QTableWidgetItem*> items = table_->selectedItems();
  const int now = items.isEmpty() ? -1 : items.first()->row();
  if (now == selected_) return;
  selected_ = now;
  Change();
}

}  // namespace platform
