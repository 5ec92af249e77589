#pragma once
#include "common/ui/Dialog.h"

// A child dialog of the side panel: its own light background, controls drawn
// transparently over it.
class PaneDialog : public Dialog {
public:
    ~PaneDialog() override;

protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    HBRUSH brush_ = nullptr;
};
