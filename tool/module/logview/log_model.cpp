// The log list model: a GObject with the GtkTreeModel and GtkTreeSortable interfaces over
// LogRows, and its sort worker.
#include "tool/module/logview/log_model.h"

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

#include "platform/sync/thread_name.h"
#include "tool/module/logview/log_lines.h"

namespace {

struct SortJob {
  SortControl control;
  std::vector<uint32_t> order;
  std::atomic<bool> finished{false};  // order holds the result
  std::thread worker;

  ~SortJob() {
    control.cancel = true;
    if (worker.joinable()) worker.join();
  }
};

struct ModelState {
  std::shared_ptr<LogRows> rows;
  // Position -> row; empty while the list is in file order.
  std::vector<uint32_t> order;
  gint sort_id = GTK_TREE_SORTABLE_UNSORTED_SORT_COLUMN_ID;
  GtkSortType sort_order = GTK_SORT_ASCENDING;
  bool filling = false;
  bool pending = false;  // a sort asked for and not in place
  std::unique_ptr<SortJob> job;
  void (*on_request)(void*) = nullptr;
  void* request_data = nullptr;
};

}  // namespace

struct LogModel {
  GObject parent;
  gint stamp;
  ModelState* s;
};
struct LogModelClass {
  GObjectClass parent_class;
};

static void log_model_tree_init(GtkTreeModelIface* iface);
static void log_model_sortable_init(GtkTreeSortableIface* iface);

G_DEFINE_TYPE_WITH_CODE(LogModel, log_model, G_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(GTK_TYPE_TREE_MODEL, log_model_tree_init)
                            G_IMPLEMENT_INTERFACE(GTK_TYPE_TREE_SORTABLE, log_model_sortable_init))

namespace {

LogModel* as_model(gpointer p) {
  return G_TYPE_CHECK_INSTANCE_CAST(p, log_model_get_type(), LogModel);
}

size_t row_count(const LogModel* m) { return m->s->rows->size(); }

bool fill_iter(LogModel* m, GtkTreeIter* iter, size_t pos) {
  if (pos >= row_count(m)) return false;
  iter->stamp = m->stamp;
  iter->user_data = GSIZE_TO_POINTER(pos);
  return true;
}

size_t position_of(const GtkTreeIter* iter) { return GPOINTER_TO_SIZE(iter->user_data); }

size_t row_at(const LogModel* m, size_t pos) {
  return m->s->order.empty() ? pos : m->s->order[pos];
}

// Starts the worker on the requested column when a sort waits and the rows stand still.
void start_sort(LogModel* m) {
  ModelState& s = *m->s;
  s.job.reset();  // a sort under way stops here
  if (!s.pending || s.filling) return;
  s.job = std::make_unique<SortJob>();
  SortJob* job = s.job.get();
  std::shared_ptr<const LogRows> rows = s.rows;
  const int column = s.sort_id;
  const bool descending = s.sort_order == GTK_SORT_DESCENDING;
  job->worker = std::thread([job, rows, column, descending] {
    set_current_thread_name("log sort");
    if (sort_log_rows(*rows, column, descending, &job->control, &job->order))
      job->finished.store(true, std::memory_order_release);
  });
}

// ---- GtkTreeModel ---------------------------------------------------------------------------

GtkTreeModelFlags get_flags(GtkTreeModel*) { return GTK_TREE_MODEL_LIST_ONLY; }

gint get_n_columns(GtkTreeModel* model) { return 1 + as_model(model)->s->rows->cells(); }

GType get_column_type(GtkTreeModel* model, gint column) {
  if (column == 0) return G_TYPE_UINT;
  return column > 0 && column < get_n_columns(model) ? G_TYPE_STRING : G_TYPE_INVALID;
}

gboolean get_iter(GtkTreeModel* model, GtkTreeIter* iter, GtkTreePath* path) {
  if (gtk_tree_path_get_depth(path) != 1) return FALSE;
  const gint pos = gtk_tree_path_get_indices(path)[0];
  return pos >= 0 && fill_iter(as_model(model), iter, size_t(pos));
}

GtkTreePath* get_path(GtkTreeModel* model, GtkTreeIter* iter) {
  g_return_val_if_fail(iter->stamp == as_model(model)->stamp, nullptr);
  return gtk_tree_path_new_from_indices(gint(position_of(iter)), -1);
}

void get_value(GtkTreeModel* model, GtkTreeIter* iter, gint column, GValue* value) {
  LogModel* m = as_model(model);
  g_return_if_fail(iter->stamp == m->stamp && position_of(iter) < row_count(m));
  const size_t row = row_at(m, position_of(iter));
  if (column == 0) {
    g_value_init(value, G_TYPE_UINT);
    g_value_set_uint(value, guint(row + 1));
    return;
  }
  g_value_init(value, G_TYPE_STRING);
  if (column > 0 && column <= m->s->rows->cells())
    g_value_set_string(value, m->s->rows->cell(row, column - 1).data());
}

gboolean iter_next(GtkTreeModel* model, GtkTreeIter* iter) {
  LogModel* m = as_model(model);
  if (iter->stamp != m->stamp || !fill_iter(m, iter, position_of(iter) + 1)) {
    iter->stamp = 0;
    return FALSE;
  }
  return TRUE;
}

gboolean iter_children(GtkTreeModel* model, GtkTreeIter* iter, GtkTreeIter* parent) {
  return !parent && fill_iter(as_model(model), iter, 0);
}

gboolean iter_has_child(GtkTreeModel*, GtkTreeIter*) { return FALSE; }

gint iter_n_children(GtkTreeModel* model, GtkTreeIter* iter) {
  return iter ? 0 : gint(row_count(as_model(model)));
}

gboolean iter_nth_child(GtkTreeModel* model, GtkTreeIter* iter, GtkTreeIter* parent, gint n) {
  return !parent && n >= 0 && fill_iter(as_model(model), iter, size_t(n));
}

gboolean iter_parent(GtkTreeModel*, GtkTreeIter*, GtkTreeIter*) { return FALSE; }

// ---- GtkTreeSortable ------------------------------------------------------------------------

gboolean get_sort_column_id(GtkTreeSortable* sortable, gint* id, GtkSortType* order) {
  const ModelState& s = *as_model(sortable)->s;
  if (id) *id = s.sort_id;
  if (order) *order = s.sort_order;
  return s.sort_id >= 0;
}

// Every request starts the sort afresh, the same column and order included: what the
// operator clicks last is what the list ends up in.
void set_sort_column_id(GtkTreeSortable* sortable, gint id, GtkSortType order) {
  LogModel* m = as_model(sortable);
  ModelState& s = *m->s;
  if (id < 0 || id > s.rows->cells()) return;  // no default or unsorted order to go back to
  s.sort_id = id;
  s.sort_order = order;
  s.pending = true;
  gtk_tree_sortable_sort_column_changed(sortable);
  start_sort(m);
  if (s.on_request) s.on_request(s.request_data);
}

// The columns' order is the model's own.
void set_sort_func(GtkTreeSortable*, gint, GtkTreeIterCompareFunc, gpointer, GDestroyNotify) {}
void set_default_sort_func(GtkTreeSortable*, GtkTreeIterCompareFunc, gpointer, GDestroyNotify) {}
gboolean has_default_sort_func(GtkTreeSortable*) { return FALSE; }

}  // namespace

static void log_model_finalize(GObject* object) {
  delete as_model(object)->s;  // a worker still sorting is stopped and joined
  G_OBJECT_CLASS(log_model_parent_class)->finalize(object);
}

static void log_model_class_init(LogModelClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = log_model_finalize;
}

static void log_model_init(LogModel* m) {
  m->stamp = g_random_int();
  m->s = new ModelState;
}

static void log_model_tree_init(GtkTreeModelIface* iface) {
  iface->get_flags = get_flags;
  iface->get_n_columns = get_n_columns;
  iface->get_column_type = get_column_type;
  iface->get_iter = get_iter;
  iface->get_path = get_path;
  iface->get_value = get_value;
  iface->iter_next = iter_next;
  iface->iter_children = iter_children;
  iface->iter_has_child = iter_has_child;
  iface->iter_n_children = iter_n_children;
  iface->iter_nth_child = iter_nth_child;
  iface->iter_parent = iter_parent;
}

static void log_model_sortable_init(GtkTreeSortableIface* iface) {
  iface->get_sort_column_id = get_sort_column_id;
  iface->set_sort_column_id = set_sort_column_id;
  iface->set_sort_func = set_sort_func;
  iface->set_default_sort_func = set_default_sort_func;
  iface->has_default_sort_func = has_default_sort_func;
}

GtkTreeModel* log_model_new(int cells) {
  LogModel* m = as_model(g_object_new(log_model_get_type(), nullptr));
  m->s->rows = std::make_shared<LogRows>(cells);
  return GTK_TREE_MODEL(m);
}

void log_model_append(GtkTreeModel* model, const std::string_view* cells) {
  LogModel* m = as_model(model);
  ModelState& s = *m->s;
  // The worker reads the rows: it stops before they change, and a sort asked for starts
  // again when the fill ends.
  s.job.reset();
  s.filling = true;
  s.rows->append(cells);
  const size_t pos = s.rows->size() - 1;
  if (!s.order.empty()) s.order.push_back(uint32_t(pos));
  GtkTreeIter iter;
  fill_iter(m, &iter, pos);
  GtkTreePath* path = gtk_tree_path_new_from_indices(gint(pos), -1);
  gtk_tree_model_row_inserted(model, path, &iter);
  gtk_tree_path_free(path);
}

void log_model_set_filling(GtkTreeModel* model, bool filling) {
  LogModel* m = as_model(model);
  m->s->filling = filling;
  start_sort(m);
}

void log_model_on_sort_request(GtkTreeModel* model, void (*fn)(void*), void* data) {
  ModelState& s = *as_model(model)->s;
  s.on_request = fn;
  s.request_data = data;
}

bool log_model_sorting(GtkTreeModel* model, double* fraction) {
  const ModelState& s = *as_model(model)->s;
  if (fraction) {
    *fraction = 0;
    if (s.job) {
      const double total = double(s.job->control.total.load());
      *fraction = std::min(1.0, double(s.job->control.done.load()) / (total > 0 ? total : 1));
    }
  }
  return s.pending;
}

bool log_model_finish_sort(GtkTreeModel* model, GtkTreeView* view) {
  LogModel* m = as_model(model);
  ModelState& s = *m->s;
  if (!s.job || !s.job->finished.load(std::memory_order_acquire)) return false;
  s.job->worker.join();
  // The view keeps one node per row; in a flat list of equal rows a reorder changes nothing
  // in them but the selection, which is carried over here. GTK's own reorder handler would
  // sort its nodes twice on this thread: seconds for a day of millions of rows.
  GtkTreeSelection* selection = view ? gtk_tree_view_get_selection(view) : nullptr;
  GtkTreeModel* shown = nullptr;
  GtkTreeIter it;
  long selected_row = -1;
  if (selection && gtk_tree_selection_get_selected(selection, &shown, &it) && shown == model)
    selected_row = long(row_at(m, position_of(&it)));
  if (selection) gtk_tree_selection_unselect_all(selection);
  s.order = std::move(s.job->order);
  s.job.reset();
  s.pending = false;
  m->stamp = gint(guint(m->stamp) + 1u);  // iterators of the old order are void
  if (!view || gtk_tree_view_get_model(view) != model) return true;
  if (selected_row >= 0) {
    size_t pos = 0;
    while (pos < s.order.size() && s.order[pos] != uint32_t(selected_row)) ++pos;
    GtkTreePath* path = gtk_tree_path_new_from_indices(gint(pos), -1);
    gtk_tree_view_set_cursor(view, path, nullptr, FALSE);
    gtk_tree_view_scroll_to_cell(view, path, nullptr, TRUE, 0.5f, 0.0f);
    gtk_tree_path_free(path);
  } else if (GtkAdjustment* adj = gtk_tree_view_get_vadjustment(view)) {
    gtk_adjustment_set_value(adj, gtk_adjustment_get_lower(adj));
  }
  gtk_widget_queue_draw(GTK_WIDGET(view));
  return true;
}
