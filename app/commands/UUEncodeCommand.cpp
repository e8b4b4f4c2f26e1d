#include "app/commands/UUEncodeCommand.h"

#include <QCoreApplication>
#include <optional>

#include "app/QtText.h"
#include "app/WaitCursor.h"
#include "app/mainunit.h"
#include "convert/UUCode.h"
#include "platform/FileSystem.h"

namespace quelt {

namespace {

// The catalogue is read again on every way out, also after a failed encoding.
class TReload {
 public:
  explicit TReload(TMainform& form) : form_(form) {}
  ~TReload() {
    try {
      form_.OpenIT();
    } catch (const std::exception&) {
      // The next command reads it again and reports what is wrong.
    }
  }
  TReload(const TReload&) = delete;
  TReload& operator=(const TReload&) = delete;

 private:
  TMainform& form_;
};

}  // namespace

void UUEncodeCommand(TMainform& form) {
  const std::string archive = PathFromQt(form.CurrentArchive());
  IDialogs& dialogs = form.Dialogs();
  TReload reload(form);
  std::optional<TWaitCursor> wait(std::in_place);
  form.Engine().ClearCatalogue();

  TUUCode encoder;
  encoder.Algorithm = uuencode;
  encoder.FileMode = 644;
  encoder.Headers = true;
  encoder.UnixCRLF = CRLF;
  encoder.InputFile = archive;
  encoder.OutputFile = UUEncodedName(archive);
  // An archive named like its own encoding ("x.uue", "uue") would be replaced by it.
  if (encoder.OutputFile == archive)
    throw EUUCode("The encoded copy would replace the archive itself: \"" + archive + "\"");
  if (files::PathExists(encoder.OutputFile, false) &&
      dialogs.MessageBox("Replace Existing File: \"" + encoder.OutputFile + "\"?", "Confirm",
                         TMsgBoxIcon::Question, TMsgBoxButtons::YesNo) != TMsgBoxResult::Yes)
    return;
  encoder.OnProgress = [](TUUCode&, uint16_t) { QCoreApplication::processEvents(); };
  form.RunEngine([&] {
    encoder.Convert();
    return 0;
  });
  wait.reset();
  dialogs.MessageBox("ZIP File Encoded as: \"" + encoder.OutputFile + "\"", "Information",
                     TMsgBoxIcon::Information, TMsgBoxButtons::OK);
}

}  // namespace quelt
