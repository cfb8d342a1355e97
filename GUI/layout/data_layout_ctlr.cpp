// SPDX-License-Identifier: GPL-2.0-or-later
#include "layout/data_layout_ctlr.h"

#include <QBrush>
#include <QCoreApplication>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMimeData>
#include <QStorageInfo>
#include <QUrl>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <unordered_set>

#include "framework/messages.h"
#include "framework/notification_center.h"
#include "layout/drag_payload.h"
#include "layout/session_drag.h"
#include "shell/notification_names.h"
#include "shell/zeb_utils.h"

namespace quillion {

namespace data_layout_detail {

// Every live model by id, so that a drop can find the model a drag came from and a drag
// from a model that is gone finds nothing.
std::mutex& registryMutex() {
  static std::mutex m;
  return m;
}
std::unordered_map<std::uint64_t, DataLayoutCtlr*>& registry() {
  static std::unordered_map<std::uint64_t, DataLayoutCtlr*> models;
  return models;
}
// Tokens and model ids come from one counter, so no two ever meet.
std::uint64_t nextId() {
  static std::atomic<std::uint64_t> counter{1};
  return counter.fetch_add(1, std::memory_order_relaxed);
}

FS_Tree* makeEmptyTree() {
  FS_Tree* tree = initTree(initNode(nullptr, "Untitled", nullptr, false));
  SetIsExpandedNode(GetRootTreeNode(tree), true);
  return tree;
}

// "name" with a number before its extension for files ("Readme1.txt"), after the whole
// title for folders ("Docs1"), as new folders and imported sessions are numbered.
std::string numberedTitle(const std::string& title, bool folder, unsigned number) {
  const std::string n = std::to_string(number);
  const auto dot = title.rfind('.');
  if (folder || dot == std::string::npos || dot == 0) return title + n;
  return title.substr(0, dot) + n + title.substr(dot);
}

// The walk callback that collects every node of a tree.
void collectNodeProc(FS_Node* node, bool*, void* context, std::uint16_t, bool*) {
  static_cast<std::unordered_set<FS_Node*>*>(context)->insert(node);
}

QString pathText(const std::string& path) {
  return QString::fromStdString(path);
}

}  // namespace data_layout_detail

using namespace data_layout_detail;

// Numbered titles are tried this many times before the item is refused.
constexpr unsigned kMaxTitleNumber = 9999;

DataLayoutCtlr::DataLayoutCtlr(QObject* parent)
    : QAbstractItemModel(parent),
      tree_(makeEmptyTree()),
      filterExtension_(Msg::gui(QStringLiteral("All"))),
      sender_(this),
      modelId_(nextId()) {
  const std::scoped_lock lock(registryMutex());
  registry()[modelId_] = this;
}

DataLayoutCtlr::~DataLayoutCtlr() {
  {
    const std::scoped_lock lock(registryMutex());
    registry().erase(modelId_);
  }
  termTree(tree_);
}

DataLayoutCtlr* DataLayoutCtlr::liveModel(std::uint64_t id) {
  const std::scoped_lock lock(registryMutex());
  const auto it = registry().find(id);
  return it == registry().end() ? nullptr : it->second;
}

void DataLayoutCtlr::setTreeData(FS_Tree* tree) {
  if (tree == nullptr || tree == tree_) return;
  beginResetModel();
  termTree(tree_);
  tree_ = tree;
  forgetViews();
  endResetModel();
}

void DataLayoutCtlr::setNewFilter(const QString& filter) {
  if (!filter.isNull()) filterExtension_ = filter;
}

bool DataLayoutCtlr::filterTest(const QString& name) const {
  if (filterExtension_ == Msg::gui(QStringLiteral("All"))) return true;
  return QFileInfo(name).suffix().toLower() == filterExtension_.toLower();
}

void DataLayoutCtlr::reloadData() {
  beginResetModel();
  forgetViews();
  endResetModel();
}

void DataLayoutCtlr::forgetViews() {
  children_.clear();
  rows_.clear();
  icons_.clear();
  tokenNodes_.clear();
  nodeTokens_.clear();
}

// ---- the outline's structure ----

const std::vector<FS_Node*>& DataLayoutCtlr::childrenOf(FS_Node* node) const {
  auto [it, fresh] = children_.try_emplace(node);
  if (fresh) {
    const std::uint32_t n = NumNodeChildren(tree_, node);
    it->second.reserve(n);
    for (std::uint32_t i = 0; i < n; ++i) {
      FS_Node* child = TreeNodeAtIndex(tree_, node, i);
      it->second.push_back(child);
      rows_[child] = static_cast<int>(i);
    }
  }
  return it->second;
}

int DataLayoutCtlr::rowOf(FS_Node* node) const {
  FS_Node* parent = GetParentNode(node);
  if (parent == nullptr) return 0;
  if (auto it = rows_.find(node); it != rows_.end()) return it->second;
  (void)childrenOf(parent);
  const auto it = rows_.find(node);
  return it == rows_.end() ? 0 : it->second;
}

FS_Node* DataLayoutCtlr::nodeForIndex(const QModelIndex& index) const {
  if (!index.isValid() || index.model() != this) return nullptr;
  return static_cast<FS_Node*>(index.internalPointer());
}

QModelIndex DataLayoutCtlr::indexForNode(FS_Node* node, int column) const {
  if (node == nullptr) return {};
  return createIndex(rowOf(node), column, node);
}

QModelIndex DataLayoutCtlr::index(int row, int column, const QModelIndex& parent) const {
  if (row < 0 || column < 0 || column >= kColumnCount) return {};
  if (!parent.isValid()) {
    FS_Node* root = GetRootTreeNode(tree_);
    return row == 0 && root != nullptr ? createIndex(0, column, root) : QModelIndex();
  }
  if (parent.column() != kNameColumn) return {};
  const auto& kids = childrenOf(nodeForIndex(parent));
  if (static_cast<std::size_t>(row) >= kids.size()) return {};
  return createIndex(row, column, kids[static_cast<std::size_t>(row)]);
}

QModelIndex DataLayoutCtlr::parent(const QModelIndex& child) const {
  FS_Node* node = nodeForIndex(child);
  if (node == nullptr || isRootNode(tree_, node)) return {};
  return indexForNode(GetParentNode(node));
}

int DataLayoutCtlr::rowCount(const QModelIndex& parent) const {
  if (!parent.isValid()) return GetRootTreeNode(tree_) != nullptr ? 1 : 0;
  if (parent.column() != kNameColumn) return 0;
  FS_Node* node = nodeForIndex(parent);
  return IsFolderNode(node) ? static_cast<int>(childrenOf(node).size()) : 0;
}

int DataLayoutCtlr::columnCount(const QModelIndex&) const {
  return kColumnCount;
}

bool DataLayoutCtlr::hasChildren(const QModelIndex& parent) const {
  return rowCount(parent) > 0;
}

// ---- what the outline shows ----

QIcon DataLayoutCtlr::iconForNode(FS_Node* node) const {
  static const QFileIconProvider provider;
  if (isRootNode(tree_, node)) {
    const QString path = QString::fromUtf8(GetFullPathNameNode(node));
    if (!path.isEmpty() && QFileInfo::exists(path)) return provider.icon(QFileInfo(path));
    return provider.icon(QAbstractFileIconProvider::Drive);
  }
  if (IsFolderNode(node)) return provider.icon(QAbstractFileIconProvider::Folder);
  const QString path = QString::fromUtf8(GetFullPathNameNode(node));
  if (!IsISO9660ImportItem(node) && !path.isEmpty() && QFileInfo::exists(path))
    return provider.icon(QFileInfo(path));
  return provider.icon(QAbstractFileIconProvider::File);
}

QVariant DataLayoutCtlr::data(const QModelIndex& index, int role) const {
  FS_Node* node = nodeForIndex(index);
  if (node == nullptr) return {};
  const bool name = index.column() == kNameColumn;
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
      if (name) return QString::fromUtf8(GetTitleNode(node));
      return ZEBUtils::bytesToString(dataSizeNode(node) + rsrcSizeNode(node));
    case Qt::DecorationRole:
      if (!name) return {};
      if (auto it = icons_.constFind(node); it != icons_.constEnd()) return *it;
      return icons_.insert(node, iconForNode(node)).value();
    case Qt::ForegroundRole:
      if (!name) return QBrush(Qt::blue);
      return QBrush(IsISO9660ImportItem(node) ? Qt::red : Qt::black);
    default:
      return {};
  }
}

QVariant DataLayoutCtlr::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section == kNameColumn) return QStringLiteral("Name");
  if (section == kSizeColumn) return QStringLiteral("Size");
  return {};
}

Qt::ItemFlags DataLayoutCtlr::flags(const QModelIndex& index) const {
  FS_Node* node = nodeForIndex(index);
  if (node == nullptr) return Qt::ItemIsDropEnabled;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
  if (index.column() == kNameColumn && !isFixedVideoFolder(node)) f |= Qt::ItemIsEditable;
  if (IsFolderNode(node) && !IsShortcutNode(node)) f |= Qt::ItemIsDropEnabled;
  return f;
}

bool DataLayoutCtlr::setData(const QModelIndex& index, const QVariant& value, int role) {
  FS_Node* node = nodeForIndex(index);
  if (node == nullptr || role != Qt::EditRole || index.column() != kNameColumn ||
      isFixedVideoFolder(node))
    return false;
  const QByteArray title = value.toString().toUtf8();
  if (title.isEmpty() || title == GetTitleNode(node)) return false;
  beginResetModel();
  const EngineStatus status = SetTitleNode(node, title.constData(), true);
  forgetViews();
  endResetModel();
  if (status != kNoErr) return false;
  if (isRootNode(tree_, node))
    postChanged({VUK_LayoutChangedNotification, VUK_DataRootNodeChangedNotification});
  else
    postChanged({VUK_LayoutChangedNotification});
  return true;
}

void DataLayoutCtlr::postChanged(std::initializer_list<const char*> names) {
  for (const char* name : names)
    NotificationCenter::instance().post(QString::fromLatin1(name), sender_);
}

// ---- drags ----

std::uint64_t DataLayoutCtlr::tokenFor(FS_Node* node) const {
  if (auto it = nodeTokens_.find(node); it != nodeTokens_.end()) return it->second;
  const std::uint64_t token = nextId();
  nodeTokens_[node] = token;
  tokenNodes_[token] = node;
  return token;
}

QStringList DataLayoutCtlr::mimeTypes() const {
  return {QString::fromLatin1(kDataLayoutMimeType), QString::fromLatin1(kSessionImportMimeType),
          QStringLiteral("text/uri-list")};
}

QMimeData* DataLayoutCtlr::mimeData(const QModelIndexList& indexes) const {
  DragPayload payload;
  payload.processId = QCoreApplication::applicationPid();
  payload.sourceId = modelId_;
  std::unordered_set<FS_Node*> seen;
  for (const QModelIndex& index : indexes) {
    FS_Node* node = nodeForIndex(index);
    if (node != nullptr && seen.insert(node).second) payload.tokens.push_back(tokenFor(node));
  }
  if (payload.tokens.empty()) return nullptr;
  auto* data = new QMimeData;
  data->setData(QString::fromLatin1(kDataLayoutMimeType), encodeDragPayload(payload));
  return data;
}

Qt::DropActions DataLayoutCtlr::supportedDropActions() const {
  return Qt::CopyAction | Qt::MoveAction;
}

Qt::DropActions DataLayoutCtlr::supportedDragActions() const {
  return Qt::CopyAction | Qt::MoveAction;
}

std::vector<FS_Node*> DataLayoutCtlr::resolveTokens(
    const std::vector<std::uint64_t>& tokens) const {
  // Each node must also still be in the tree: a token is only as good as the node behind it.
  std::unordered_set<FS_Node*> live;
  live.insert(GetRootTreeNode(tree_));
  (void)WalkWholeTree(tree_, collectNodeProc, &live, nullptr);
  std::vector<FS_Node*> nodes;
  for (const std::uint64_t token : tokens) {
    const auto it = tokenNodes_.find(token);
    if (it == tokenNodes_.end() || !live.contains(it->second)) return {};
    nodes.push_back(it->second);
  }
  return nodes;
}

std::vector<FS_Node*> DataLayoutCtlr::payloadNodes(const QMimeData* data,
                                                   DataLayoutCtlr** source) const {
  const auto payload = decodeDragPayload(data->data(QString::fromLatin1(kDataLayoutMimeType)));
  if (!payload || payload->processId != QCoreApplication::applicationPid()) return {};
  DataLayoutCtlr* model = liveModel(payload->sourceId);
  if (model == nullptr) return {};
  *source = model;
  return model->resolveTokens(payload->tokens);
}

DataLayoutCtlr::DropTarget DataLayoutCtlr::dropTarget(int row, const QModelIndex& parent) const {
  // Drops always go into a folder, never between rows: between the top-level rows means
  // into the disc, on nothing at all means nowhere.
  FS_Node* node = nodeForIndex(parent);
  if (node == nullptr) {
    if (parent.isValid() || row < 0) return {};
    node = GetRootTreeNode(tree_);
  }
  if (node == nullptr || !IsFolderNode(node) || IsShortcutNode(node)) return {};
  return {true, node};
}

bool DataLayoutCtlr::isFixedVideoFolder(FS_Node* node) const {
  if (!isDVDVideo_ || GetParentNode(node) != GetRootTreeNode(tree_)) return false;
  const std::string_view title = GetTitleNode(node);
  return title == "VIDEO_TS" || title == "AUDIO_TS";
}

bool DataLayoutCtlr::refusesDraggedNodes(const std::vector<FS_Node*>& nodes, FS_Node* target,
                                         bool fromHere) const {
  if (nodes.empty()) return true;
  if (!fromHere) return false;
  for (FS_Node* node : nodes)
    if (IsDescendant(target, node) || isFixedVideoFolder(node)) return true;
  return false;
}

bool DataLayoutCtlr::canDropMimeData(const QMimeData* data, Qt::DropAction, int row, int,
                                     const QModelIndex& parent) const {
  if (layoutIsBusy_ || data == nullptr) return false;
  const DropTarget target = dropTarget(row, parent);
  if (!target.ok) return false;
  if (data->hasFormat(QString::fromLatin1(kDataLayoutMimeType))) {
    DataLayoutCtlr* source = nullptr;
    const auto nodes = payloadNodes(data, &source);
    return !refusesDraggedNodes(nodes, target.node, source == this);
  }
  if (data->hasFormat(QString::fromLatin1(kSessionImportMimeType))) {
    // Only the outline of the table's own window takes its sessions.
    const auto drag = decodeSessionDrag(data->data(QString::fromLatin1(kSessionImportMimeType)));
    return drag && drag->targetModelId == modelId_ && !drag->rows.empty();
  }
  if (data->hasUrls()) {
    for (const QUrl& url : data->urls())
      if (url.isLocalFile()) return true;
  }
  return false;
}

bool DataLayoutCtlr::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                                  const QModelIndex& parent) {
  if (!canDropMimeData(data, action, row, column, parent)) return false;
  report_ = {};
  if (!data->hasFormat(QString::fromLatin1(kDataLayoutMimeType)) &&
      data->hasFormat(QString::fromLatin1(kSessionImportMimeType))) {
    const auto drag = decodeSessionDrag(data->data(QString::fromLatin1(kSessionImportMimeType)));
    return drag && dropSessions(*drag);
  }
  FS_Node* target = dropTarget(row, parent).node;
  beginResetModel();
  if (data->hasFormat(QString::fromLatin1(kDataLayoutMimeType))) {
    DataLayoutCtlr* source = nullptr;
    const auto nodes = payloadNodes(data, &source);
    if (source == this)
      moveNodes(nodes, target);
    else
      copyNodes(nodes, target);
  } else {
    QStringList paths;
    for (const QUrl& url : data->urls())
      if (url.isLocalFile()) paths << url.toLocalFile();
    dropFiles(paths, target);
  }
  forgetViews();
  endResetModel();
  return true;
}

// ---- what drops do to the tree ----

SessionImportOutcome DataLayoutCtlr::importSession(FS_Tree* imported, const QString& volumeName,
                                                   bool toFolder, unsigned* clashCounter) {
  beginResetModel();
  SessionImportOutcome outcome =
      importSessionTree(tree_, imported, volumeName, toFolder, clashCounter);
  SetIsExpandedNode(GetRootTreeNode(tree_), true);
  forgetViews();
  endResetModel();
  postChanged({VUK_FilesAddedNotification, VUK_LayoutChangedNotification});
  return outcome;
}

EngineStatus DataLayoutCtlr::removeImportedItems() {
  beginResetModel();
  const EngineStatus status = RemoveISOImportItems(tree_);
  forgetViews();
  endResetModel();
  postChanged({VUK_FilesAddedNotification});
  return status;
}

bool DataLayoutCtlr::dropSessions(const SessionDrag& drag) {
  const DiscSessions disc = readDiscSessions(drag.drive);
  if (disc.status != kNoErr) return false;
  // The rows were numbered on a list read earlier: an index this disc does not have refuses
  // the whole drop before anything is imported.
  for (const int row : drag.rows)
    if (row >= 0 && static_cast<std::size_t>(row) >= disc.sessions.size()) return false;
  // Clashes are counted over the whole drop, so a second session continues the numbers.
  unsigned clashes = 0;
  for (const int row : drag.rows) {
    if (row < 0) continue;
    const TNC_ISO9660Session& session = disc.sessions[static_cast<std::size_t>(row)];
    FS_Tree* imported = nullptr;
    const EngineStatus status = TNC_ISO9660SessionToFSTree(&session, &imported);
    if (status != kNoErr || imported == nullptr) {
      if (imported != nullptr) termTree(imported);
      report_.refused.push_back(
          {sessionVolumeName(session), status != kNoErr ? status : EngineStatus{kErrFileAccess}});
      continue;
    }
    const SessionImportOutcome outcome =
        importSession(imported, sessionVolumeName(session), true, &clashes);
    if (outcome.status != kNoErr)
      report_.refused.push_back({sessionVolumeName(session), outcome.status});
  }
  return true;
}

void DataLayoutCtlr::moveNodes(const std::vector<FS_Node*>& nodes, FS_Node* target) {
  for (FS_Node* node : nodes) {
    if (const EngineStatus s = MoveTreeNode(tree_, node, target); s != kNoErr)
      report_.refused.push_back({QString::fromUtf8(GetTitleNode(node)), s});
  }
  postChanged({VUK_LayoutChangedNotification});
}

void DataLayoutCtlr::nodeAdded(FS_Node* node) {
  if (isDiscSpanningOn_) SetTempNode(node, true);
}

bool DataLayoutCtlr::addNumbered(FS_Node* node, FS_Node* parent, const QString& sourcePath) {
  EngineStatus status = AddTreeNode(tree_, node, parent);
  const std::string title = GetTitleNode(node);
  for (unsigned n = 1; status == kErrTreeDuplicateTitle && n <= kMaxTitleNumber; ++n) {
    const std::string next = numberedTitle(title, IsFolderNode(node), n);
    if (SetTitleNode(node, next.c_str(), false) != kNoErr) break;
    status = AddTreeNode(tree_, node, parent);
  }
  if (status != kNoErr) {
    report_.refused.push_back({sourcePath, status});
    termNode(node);
    return false;
  }
  if (GetTitleNode(node) != title)
    report_.renamed.push_back({sourcePath, QString::fromUtf8(GetTitleNode(node))});
  nodeAdded(node);
  return true;
}

FS_Node* DataLayoutCtlr::copyWithoutImports(FS_Node* source) {
  const char* path = GetFullPathNameNode(source);
  if (IsFolderNode(source)) {
    // A folder made in the layout or imported has no file behind it: it is copied as a new
    // folder of the same title.
    const bool fromDisk = !IsISO9660ImportItem(source) && path != nullptr && *path != '\0';
    FS_Node* copy = initNode(fromDisk ? path : nullptr, GetTitleNode(source), nullptr, false);
    if (!IsFolderNode(copy)) {
      termNode(copy);
      copy = initNode(nullptr, GetTitleNode(source), nullptr, false);
    }
    SetIsExpandedNode(copy, true);
    const std::uint32_t n = GetNumberOfChildren(source);
    for (std::uint32_t i = 0; i < n; ++i) {
      FS_Node* child = GetChildNodeAtIndex(source, i);
      if (IsISO9660ImportItem(child) && !IsFolderNode(child)) continue;
      FS_Node* childCopy = copyWithoutImports(child);
      if (childCopy == nullptr) continue;
      // A file that is gone from disk since it was laid out is not copied in silence.
      EngineStatus status = IsFolderNode(childCopy) || IsValid(childCopy) ? kNoErr : kErrFileAccess;
      if (status == kNoErr) status = AddChildNode(copy, childCopy);
      if (status != kNoErr) {
        report_.refused.push_back({QString::fromUtf8(GetFullPathNameNode(child)), status});
        termNode(childCopy);
      } else if (isDiscSpanningOn_) {
        SetTempNode(childCopy, true);
      }
    }
    // An imported folder is worth copying only for what it holds that is not imported.
    if (IsISO9660ImportItem(source) && GetNumberOfChildren(copy) == 0) {
      termNode(copy);
      return nullptr;
    }
    return copy;
  }
  if (IsISO9660ImportItem(source)) return nullptr;
  return initNode(path, GetTitleNode(source), nullptr, isSymbolic(source));
}

void DataLayoutCtlr::copyNodes(const std::vector<FS_Node*>& nodes, FS_Node* target) {
  // Every dragged node is looked at: an imported folder among them does not end the drop.
  for (FS_Node* node : nodes) {
    if (IsISO9660ImportItem(node) && !IsFolderNode(node)) continue;
    FS_Node* copy = copyWithoutImports(node);
    if (copy == nullptr) continue;
    (void)addNumbered(copy, target, QString::fromUtf8(GetFullPathNameNode(node)));
  }
  postChanged({VUK_FilesAddedNotification, VUK_LayoutChangedNotification});
}

void DataLayoutCtlr::dropFiles(const QStringList& paths, FS_Node* target) {
  for (const QString& path : paths) {
    if (paths.size() == 1 && (dropVideoFolder(path) || dropFolderAsDisc(path))) continue;
    addPathFromDisk(path, target);
  }
  postChanged(
      {VUK_FilesDroppedNotification, VUK_FilesAddedNotification, VUK_LayoutChangedNotification});
}

bool DataLayoutCtlr::dropVideoFolder(const QString& path) {
  if (!isDVDVideo_) return false;
  const std::filesystem::path fsPath(path.toStdString());
  std::error_code ec;
  if (!std::filesystem::is_directory(std::filesystem::symlink_status(fsPath, ec))) return false;
  const std::string name = fsPath.filename().string();
  if (name != "VIDEO_TS" && name != "AUDIO_TS") return false;
  // The layout's own folder of that name is replaced, never joined by a second one.
  FS_Node* root = GetRootTreeNode(tree_);
  FS_Node* old = nullptr;
  for (FS_Node* child : childrenOf(root))
    if (GetTitleNode(child) == name) old = child;
  if (old != nullptr) {
    if (NumNodeChildren(tree_, old) > 0) {
      const QString title = QStringLiteral("Overwrite ") + QString::fromStdString(name);
      if (!askReplace_ || !askReplace_(title, title + QStringLiteral(" Message"))) return true;
    }
    if (const EngineStatus s = RemoveTreeNode(tree_, old, true); s != kNoErr) {
      report_.refused.push_back({path, s});
      return true;
    }
    forgetViews();
  }
  // A layout whose own folder was taken out gets the dropped one in its place.
  addPathFromDisk(path, root);
  return true;
}

bool DataLayoutCtlr::dropFolderAsDisc(const QString& path) {
  FS_Node* root = GetRootTreeNode(tree_);
  if (!folderReplacesDisc_ || NumNodeChildren(tree_, root) != 0) return false;
  std::error_code ec;
  const std::filesystem::path fsPath(path.toStdString());
  if (!std::filesystem::is_directory(std::filesystem::symlink_status(fsPath, ec))) return false;
  const std::string title = fsPath.filename().string();
  if (!SetFullPathNameNode(root, fsPath.c_str())) return false;
  (void)SetTitleNode(root, title.c_str(), true);
  (void)SetTreetitle(tree_, title.c_str());
  SetIsExpandedNode(root, true);
  if (isDiscSpanningOn_) SetTempNode(root, true);
  readFolder(fsPath.string(), root);
  return true;
}

void DataLayoutCtlr::addPathFromDisk(const QString& path, FS_Node* target) {
  namespace fs = std::filesystem;
  const fs::path fsPath(path.toStdString());
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(fsPath, ec);
  if (ec || !fs::exists(status)) {
    report_.refused.push_back({path, kErrFileAccess});
    return;
  }
  const bool link = fs::is_symlink(status);
  const bool folder = fs::is_directory(status);
  std::string title = fsPath.filename().string();
  if (fsPath == fsPath.root_path()) title = QStorageInfo::root().displayName().toStdString();
  if (!folder && !filterTest(QString::fromStdString(title))) return;
  FS_Node* node = initNode(fsPath.c_str(), title.c_str(), nullptr, link);
  if (!IsValid(node)) {
    report_.refused.push_back({path, kErrFileAccess});
    termNode(node);
    return;
  }
  if (link) setSymbolic(node, true);
  const bool readIt = IsFolderNode(node) && !IsShortcutNode(node) && !link;
  if (readIt) SetIsExpandedNode(node, true);
  if (addNumbered(node, target, path) && readIt) readFolder(fsPath.string(), node);
}

void DataLayoutCtlr::readFolder(const std::string& path, FS_Node* parent) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::directory_iterator it(path, ec);
  if (ec) {
    report_.refused.push_back({pathText(path), kErrFileAccess});
    return;
  }
  // The folder's order is the file system's; the tree keeps its own order anyway.
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    const fs::path entryPath = it->path();
    const fs::file_status status = it->symlink_status(ec);
    if (ec) {
      report_.refused.push_back({pathText(entryPath.string()), kErrFileAccess});
      continue;
    }
    const bool link = fs::is_symlink(status);
    const bool folder = fs::is_directory(status);
    const std::string name = entryPath.filename().string();
    if (!folder && !filterTest(QString::fromStdString(name))) continue;
    FS_Node* node = initNode(entryPath.c_str(), name.c_str(), nullptr, link);
    if (!IsValid(node)) {
      report_.refused.push_back({pathText(entryPath.string()), kErrFileAccess});
      termNode(node);
      continue;
    }
    if (folder) SetIsExpandedNode(node, true);
    if (addNumbered(node, parent, pathText(entryPath.string())) && folder)
      readFolder(entryPath.string(), node);
  }
  if (ec) report_.refused.push_back({pathText(path), kErrFileAccess});
}

}  // namespace quillion
