#include "sip/telephone_event_types.h"

TTelephoneEventTypes EventTypesAnswering(std::optional<int> offered) {
    const int number = offered.value_or(kOwnTelephoneEventPayloadType);
    return {number, number};
}

TTelephoneEventTypes EventTypesAnswered(std::optional<int> answered) {
    return {answered.value_or(kOwnTelephoneEventPayloadType), kOwnTelephoneEventPayloadType};
}
