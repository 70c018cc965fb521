// The list model of a log window: the rows of one day file (LogRows) shown in file order or
// sorted by a column. GTK main thread only, but for the sort itself.
//
// A click on a column header asks for a sort (GtkTreeSortable): the model sorts a copy of the
// row order on a worker thread of its own, so the window answers meanwhile, and a new request
// (a second click) stops that sort and starts again. The window puts a finished order in place
// with log_model_finish_sort. While the window is still filling the list, a requested sort
// waits for the fill to end. Dropping the model's last reference stops and joins the worker.
#pragma once

#include <gtk/gtk.h>

#include <string_view>

// A new empty model of `cells` text columns after the row number (3 event, 4 system); the
// caller owns the reference.
GtkTreeModel* log_model_new(int cells);

// Appends a row of cells (numbered by its position in the file) and tells the views. The
// model counts as filling from then on: a sort under way stops, and one asked for waits.
void log_model_append(GtkTreeModel* model, const std::string_view* cells);

// Ending the fill (false) starts the sort asked for meanwhile.
void log_model_set_filling(GtkTreeModel* model, bool filling);

// Called (main thread) whenever a sort is asked for, so the window can show its progress and
// look for the result.
void log_model_on_sort_request(GtkTreeModel* model, void (*fn)(void* data), void* data);

// Whether a sort is asked for and not yet in place, and how far its worker got (0..1).
bool log_model_sorting(GtkTreeModel* model, double* fraction);

// When the worker has finished: its order goes in place and `view` shows it (the selected
// row stays selected and in sight; without one the list shows its top); returns true.
// Otherwise returns false and changes nothing.
bool log_model_finish_sort(GtkTreeModel* model, GtkTreeView* view);
