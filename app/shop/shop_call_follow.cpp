#include "app/shop/shop_call_follow.h"

#include "app/booth/booth_call_flow.h"
#include "app/shop/shop_replicator.h"

void FollowCallForShop(TBoothCallFlow& flow, TShopReplicator& replicator) {
    TShopReplicator* shop = &replicator;
    QObject::connect(&flow, &TBoothCallFlow::FarEndRinging, shop, [shop] { shop->SetRinging(true); });
    QObject::connect(&flow, &TBoothCallFlow::Placed, shop, [shop] { shop->SetRinging(false); });
    QObject::connect(&flow, &TBoothCallFlow::Answered, shop, [shop] { shop->SetRinging(false); });
    QObject::connect(&flow, &TBoothCallFlow::Ended, shop, [shop] { shop->SetRinging(false); });
}
