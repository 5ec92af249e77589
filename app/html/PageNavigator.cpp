#include "app/html/PageNavigator.h"

namespace {

PageNavigator* pageNavigator = nullptr;

}  // namespace

void SetPageNavigator(PageNavigator* navigator) { pageNavigator = navigator; }

PageNavigator* GetPageNavigator() { return pageNavigator; }
