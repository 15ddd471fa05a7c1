#include "texts/platform_texts.h"

namespace orlune {

const PlatformTexts& kPlatformTexts = kMacOSTexts;

}  // namespace orlune
