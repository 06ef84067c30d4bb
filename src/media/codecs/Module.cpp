// tessavane-codecs.so: the entry point the program looks up after loading it.
#include "media/codecs/Codecs.h"

#include <algorithm>
#include <vips/vips8>

namespace tess::media::codec {

void setPictureThreads(int threads) {
    if (mediaInit())
        vips_concurrency_set(std::max(0, threads)); // 0: libvips' default
}

} // namespace tess::media::codec

extern "C" __attribute__((visibility("default"))) const tess::media::CodecTable*
tess_codecs_v1(const tess::Teardown::Registrations* program) {
    using namespace tess::media;
    static const CodecTable table{kCodecTableVersion,       codec::mediaInit,
                                  codec::scalePicture,      codec::fitPicture,
                                  codec::setPictureThreads, codec::makeRingtone,
                                  codec::looksLikeSound,    codec::decodeTo8kMono};
    if (program)
        tess::Teardown::registerWith(*program);
    return &table;
}
