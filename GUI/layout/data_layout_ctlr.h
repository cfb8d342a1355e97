// SPDX-License-Identifier: GPL-2.0-or-later
// The model behind the outline of a data disc layout: it owns the layout's content tree,
// shows it with one top row for the disc and the layout below it, renames nodes in place and
// takes what is dropped on the outline: nodes moved inside the outline, nodes copied from
// another data layout, sessions dragged from the session table of its own window and files
// and folders from the desktop. The picture and MP3 layouts
// build their models on this one.
#pragma once

#include <QAbstractItemModel>
#include <QHash>
#include <QIcon>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

#include "layout/session_import.h"
#include "quillion/FS.h"

namespace quillion {

struct DragPayload;
struct SessionDrag;

// What a drop did besides adding nodes, for the window to show: items that took a numbered
// title because their name was taken under the same folder, and items that could not be
// added at all.
struct DropReport {
  struct Renamed {
    QString path;      // where the item came from
    QString newTitle;  // the title it has in the layout
  };
  struct Refused {
    QString path;
    EngineStatus status = kNoErr;
  };
  std::vector<Renamed> renamed;
  std::vector<Refused> refused;
  bool empty() const { return renamed.empty() && refused.empty(); }
};

class DataLayoutCtlr : public QAbstractItemModel {
  Q_OBJECT

 public:
  enum Column { kNameColumn = 0, kSizeColumn = 1, kColumnCount = 2 };

  explicit DataLayoutCtlr(QObject* parent = nullptr);
  ~DataLayoutCtlr() override;

  FS_Tree* treeData() const { return tree_; }
  // Takes the tree over; null and the tree already held are ignored.
  void setTreeData(FS_Tree* tree);

  void setIsDVDVideo(bool on) { isDVDVideo_ = on; }
  // Asked, with the "GUIMsgs" keys of its title and message, before a dropped "VIDEO_TS" or
  // "AUDIO_TS" folder replaces the DVD-Video layout's one that holds files; true replaces.
  // Without a question nothing is replaced.
  using ReplaceQuestion = std::function<bool(const QString& titleKey, const QString& messageKey)>;
  void setReplaceQuestion(ReplaceQuestion ask) { askReplace_ = std::move(ask); }
  void setLayoutIsBusy(bool on) { layoutIsBusy_ = on; }
  void setDiscSpanningOn(bool on) { isDiscSpanningOn_ = on; }
  // "Folder Replace CD Icon Switch": a single folder dropped on an empty layout becomes the disc.
  void setFolderReplacesDisc(bool on) { folderReplacesDisc_ = on; }
  // A file extension without the point, or the "GUIMsgs" text of "All".
  void setNewFilter(const QString& filter);
  QString filter() const { return filterExtension_; }
  bool filterTest(const QString& name) const;
  // The object the model's notifications name as sender: the window's outline view, or the
  // model itself until the window says otherwise.
  void setNotificationSender(const void* sender) { sender_ = sender; }

  FS_Node* nodeForIndex(const QModelIndex& index) const;
  QModelIndex indexForNode(FS_Node* node, int column = kNameColumn) const;
  // Clears the model's views of the tree after the tree was changed from outside the model.
  void reloadData();

  // The identity by which the session table of the same window addresses its drags.
  std::uint64_t dragTargetId() const { return modelId_; }
  // Imports the tree of an earlier session (taken over in every case) as importSessionTree
  // does, then tells the views and the window.
  SessionImportOutcome importSession(FS_Tree* imported, const QString& volumeName, bool toFolder,
                                     unsigned* clashCounter);
  // Takes every item imported from an earlier session out of the layout.
  EngineStatus removeImportedItems();

  // What the last drop did; cleared when the next drop starts.
  const DropReport& lastDropReport() const { return report_; }

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  Qt::DropActions supportedDropActions() const override;
  Qt::DropActions supportedDragActions() const override;
  bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                       const QModelIndex& parent) const override;
  bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                    const QModelIndex& parent) override;

 protected:
  // The icon of a node; models of other layouts may show their own.
  virtual QIcon iconForNode(FS_Node* node) const;
  // Adds what a node read from disk needs besides being in the tree (picture and MP3
  // layouts keep their own records); the base flags it for disc spanning.
  virtual void nodeAdded(FS_Node* node);
  // Adds `node` (detached, the caller's) under `parent`, numbering its title while a
  // sibling holds the name. Consumes the node in every case; answers whether it is in the
  // tree, and files a renamed or refused entry of the report under `sourcePath`.
  bool addNumbered(FS_Node* node, FS_Node* parent, const QString& sourcePath);
  // Reads the folder at `path` into `parent` (already in the tree), recursively.
  void readFolder(const std::string& path, FS_Node* parent);
  void postChanged(std::initializer_list<const char*> names);

 private:
  struct DropTarget {
    bool ok = false;
    FS_Node* node = nullptr;
  };
  DropTarget dropTarget(int row, const QModelIndex& parent) const;
  // The live nodes of this model that the tokens name; empty when any token names none.
  std::vector<FS_Node*> resolveTokens(const std::vector<std::uint64_t>& tokens) const;
  static DataLayoutCtlr* liveModel(std::uint64_t id);
  std::uint64_t tokenFor(FS_Node* node) const;
  std::vector<FS_Node*> payloadNodes(const QMimeData* data, DataLayoutCtlr** source) const;
  // The "VIDEO_TS" and "AUDIO_TS" folders directly under the disc of a DVD-Video layout,
  // which keep their names and places.
  bool isFixedVideoFolder(FS_Node* node) const;
  bool refusesDraggedNodes(const std::vector<FS_Node*>& nodes, FS_Node* target,
                           bool fromHere) const;

  // Sessions dragged from the window's session table; refused whole when an index is not
  // one of the disc's sessions.
  bool dropSessions(const SessionDrag& drag);
  void moveNodes(const std::vector<FS_Node*>& nodes, FS_Node* target);
  void copyNodes(const std::vector<FS_Node*>& nodes, FS_Node* target);
  FS_Node* copyWithoutImports(FS_Node* source);
  void dropFiles(const QStringList& paths, FS_Node* target);
  bool dropFolderAsDisc(const QString& path);
  bool dropVideoFolder(const QString& path);
  void addPathFromDisk(const QString& path, FS_Node* target);

  const std::vector<FS_Node*>& childrenOf(FS_Node* node) const;
  int rowOf(FS_Node* node) const;
  void forgetViews();

  FS_Tree* tree_ = nullptr;
  QString filterExtension_;
  bool layoutIsBusy_ = false;
  bool isDiscSpanningOn_ = false;
  bool isDVDVideo_ = false;
  bool folderReplacesDisc_ = false;
  const void* sender_ = nullptr;
  ReplaceQuestion askReplace_;
  std::uint64_t modelId_ = 0;
  DropReport report_;

  // The outline's views of the tree, rebuilt on demand and cleared whenever the tree
  // changes; the tokens handed to drags go with them, so a drag that outlives a change is
  // stale and refused.
  mutable std::unordered_map<FS_Node*, std::vector<FS_Node*>> children_;
  mutable std::unordered_map<FS_Node*, int> rows_;
  mutable QHash<FS_Node*, QIcon> icons_;
  mutable std::unordered_map<std::uint64_t, FS_Node*> tokenNodes_;
  mutable std::unordered_map<FS_Node*, std::uint64_t> nodeTokens_;
};

}  // namespace quillion
