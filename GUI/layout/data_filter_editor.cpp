// SPDX-License-Identifier: GPL-2.0-or-later
#include "layout/data_filter_editor.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTableView>
#include <QVBoxLayout>

#include "framework/defaults.h"
#include "framework/messages.h"
#include "layout/window_tables.h"
#include "shell/preference_keys.h"

namespace quillion {

namespace data_filter_detail {

QString filterKey() {
  return QString::fromLatin1(VUKDataFilterKey);
}

// The list as it is first registered: "All", two extensions, "Edit...".
QStringList registeredFilterList() {
  return registeredPreferenceDefaults().value(filterKey()).toStringList();
}

// A list that lacks its first or last entry would lose an extension to the pop-up's fixed
// items; such a list is not used.
bool isUsableFilterList(const QStringList& list) {
  return list.size() >= 2 && list.first() == Msg::gui(QStringLiteral("All")) &&
         list.last() == Msg::gui(QStringLiteral("Edit..."));
}

}  // namespace data_filter_detail

using namespace data_filter_detail;

DataFilterEditor::DataFilterEditor(Defaults& defaults, QWidget* parent)
    : QObject(parent), defaults_(defaults), panel_(std::make_unique<QDialog>(parent)) {
  panel_->setObjectName(QStringLiteral("dataFilterPanel"));
  auto* column = new QVBoxLayout(panel_.get());
  view_ = new QTableView;
  view_->setObjectName(QStringLiteral("dataFilterView"));
  view_->setSelectionMode(QAbstractItemView::SingleSelection);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
  view_->horizontalHeader()->setStretchLastSection(true);
  view_->verticalHeader()->hide();
  model_ = new DataFilterTableModel(this);
  view_->setModel(model_);
  column->addWidget(view_);
  auto* buttons = new QHBoxLayout;
  addButton_ = new QPushButton(QStringLiteral("+"));
  addButton_->setObjectName(QStringLiteral("dataFilterAddButton"));
  removeButton_ = new QPushButton(QStringLiteral("-"));
  removeButton_->setObjectName(QStringLiteral("dataFilterRemoveButton"));
  closeButton_ = new QPushButton(Msg::gui(QStringLiteral("Close")));
  closeButton_->setObjectName(QStringLiteral("dataFilterCloseButton"));
  buttons->addWidget(addButton_);
  buttons->addWidget(removeButton_);
  buttons->addStretch(1);
  buttons->addWidget(closeButton_);
  column->addLayout(buttons);

  const QStringList stored = defaults_.stringList(filterKey());
  model_->setFilterList(isUsableFilterList(stored) ? stored : registeredFilterList());
  updateRemoveButton();
  connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &DataFilterEditor::updateRemoveButton);
  connect(model_, &DataFilterTableModel::filterListEdited, this, [this] {
    deselect();
    save();
    emit listChanged();
  });
  connect(addButton_, &QPushButton::clicked, this, &DataFilterEditor::dataFilterAdd);
  connect(removeButton_, &QPushButton::clicked, this, &DataFilterEditor::dataFilterRemove);
  // Another window changed the shared list.
  connect(&defaults_, &Defaults::changed, this, &DataFilterEditor::reloadFromDefaults);
}

DataFilterEditor::~DataFilterEditor() = default;

const QStringList& DataFilterEditor::dataFilterArray() const {
  return model_->filterList();
}

void DataFilterEditor::setList(QStringList list) {
  model_->setFilterList(std::move(list));
  updateRemoveButton();
  save();
  emit listChanged();
}

void DataFilterEditor::save() {
  // The removal alone would show the registered list for a moment: this editor does not
  // follow its own writes.
  const QScopedValueRollback<bool> saving(saving_, true);
  (void)defaults_.remove(filterKey());
  (void)defaults_.set(filterKey(), model_->filterList());
}

void DataFilterEditor::deselect() {
  view_->clearSelection();
  updateRemoveButton();
}

void DataFilterEditor::updateRemoveButton() {
  removeButton_->setEnabled(view_->selectionModel()->selectedRows().size() == 1);
}

void DataFilterEditor::reloadFromDefaults(const QString& key) {
  if (key != filterKey() || saving_) return;
  const QStringList stored = defaults_.stringList(filterKey());
  if (!isUsableFilterList(stored) || stored == model_->filterList()) return;
  model_->setFilterList(stored);
  updateRemoveButton();
  emit listChanged();
}

void DataFilterEditor::dataFilterAdd() {
  deselect();
  QStringList list = model_->filterList();
  const QString placeholder = QString::fromLatin1(kDataFilterPlaceholder);
  if (list.at(list.size() - 2) != placeholder) {
    list.insert(list.size() - 1, placeholder);
    setList(std::move(list));
  }
  const QModelIndex row = model_->index(static_cast<int>(model_->filterList().size()) - 3, 0);
  view_->selectionModel()->select(row,
                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  view_->setCurrentIndex(row);
  view_->edit(row);
}

void DataFilterEditor::dataFilterRemove() {
  const QModelIndexList rows = view_->selectionModel()->selectedRows();
  deselect();
  if (rows.size() != 1) return;
  QStringList list = model_->filterList();
  const qsizetype entry = rows.first().row() + 1;
  if (entry <= 0 || entry >= list.size() - 1) return;
  list.removeAt(entry);
  setList(std::move(list));
}

void DataFilterEditor::closeEditing() {
  deselect();
  QStringList list = model_->filterList();
  if (list.size() > 2 && list.at(list.size() - 2) == QString::fromLatin1(kDataFilterPlaceholder)) {
    list.removeAt(list.size() - 2);
    setList(std::move(list));
  }
}

}  // namespace quillion
