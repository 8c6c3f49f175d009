#include "app/gui/loader_app.h"

int main(int argc, char** argv) {
  vok::gui::LoaderApp app(argc, argv);
  return app.Run();
}
