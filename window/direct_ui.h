// The layer host every window of the program derives from: it makes the
// controls by kind number, lets a press on a layer with ID 0 drag the window
// and turns a click on a layer with a positive ID into WM_COMMAND.
#pragma once

#include "window/window.h"

class CDirectUI : public CWindow {
public:
    CDirectUI() = default;
    ~CDirectUI() override;

    // 1 text, 2 edit, 3 image, 4 button, 5 check box, 6 progress bar; any
    // other kind a plain layer of that kind.
    ILayer* CreateLayer(int type) override;
    void OnLayerPressed(ILayer* layer) override;
    // WM_COMMAND (wParam = the ID's low 16 bits, lParam = the layer).
    void OnLayerClicked(ILayer* layer) override;

    // CreateLayer, then AppendLayer; the index or -1.
    virtual int AddLayerOfType(int type);
};
