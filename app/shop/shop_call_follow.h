// What the booth's call flow tells the shop beyond the journal: the far end
// ringing ("Timbrando" on the counter's board) until the answer or the end.
#pragma once

class TBoothCallFlow;
class TShopReplicator;

// Connects the flow's steps to the replicator; both outlive the connection
// (the replicator is disconnected when either goes).
void FollowCallForShop(TBoothCallFlow& flow, TShopReplicator& replicator);
