// Small presentation helpers for the setup's Qt windows.
#pragma once

class QAbstractItemView;

namespace krv::setup {

// Gives a list or table view the behaviour every setup list has: a click
// selects the whole row, and a cell whose text does not fit shows the full
// text as a tooltip when the pointer rests on it (unless the model gives a
// tooltip of its own). Check boxes come from the items' own check state.
void SetListViewExStyle(QAbstractItemView *view);

} // namespace krv::setup
