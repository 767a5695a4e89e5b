#include "app/booth/sip_status_text.h"

#include "app/booth/booth_texts.h"

const char* SipStatusText(int status) {
    switch (status) {
        case 0:
        case 500:
        case 502:
        case 503:
        case 504:
            return kServerSilentText;
        case 486:
        case 600:
            return kBusyText;
        case 408:
        case 480:
            return kNoAnswerText;
        case 487:
            return kCancelledText;
        case 404:
        case 410:
        case 416:
        case 484:
        case 485:
        case 604:
            return kInvalidNumberText;
        default:
            return kProviderRefusedText;
    }
}
