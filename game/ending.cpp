// game/ending.cpp: the nine pages of the ending story, opened by the fortieth task.
#include "game/ending.h"

namespace tw {

const std::array<std::string, 9> endingpages = {
    "With the placement of this final item, Dorvel's house is at last in order.  Every sock, "
    "spoon and lampshade sits exactly where he asked for it, no matter how strange the asking "
    "was.  It has been a long day, but it ends with a job well done.",

    "As you survey the room, you can't help but wonder who would ever want a house arranged "
    "like this.  The toaster is in the bathtub, and the good china is stacked neatly in the "
    "fireplace.  Before you can puzzle it out, a large white van pulls up in Dorvel's driveway.",

    "Men in white coats enter the home.  One of them speaks softly to Dorvel, and keeps him "
    "calm with talk of warm cocoa and a nice long rest.  Meanwhile, the other two quietly "
    "unfold a straight jacket and get it ready.",

    "After being fastened, securely, Dorvel is led out of the front door and down the path "
    "toward the van.  He does not struggle, and even seems a little relieved.  Curious, and "
    "more than a little concerned, you follow along behind.",

    "Before stepping up in to the van, Dorvel pauses.  All day long he has been grumpy and "
    "serious, barking his orders without so much as a thank you.  Now he turns to you, smiles "
    "the warmest smile you have ever seen, and says, \"Flumbo wizzenhaff.\"",

    "The men help Dorvel up into the van, and he settles onto the bench with great dignity.  "
    "As the doors begin to close, he leans out and calls to you, in deep respect for a day of "
    "hard work, \"Zibber on, noble plonkwhistle!\"  Then the doors shut, and the van drives "
    "slowly away down the street.",

    "Looking back on that day, you never did get paid.  You never got the shoes, either.  You "
    "sent a bill for your work to the asylum, and a few weeks later it came back to you, "
    "covered from edge to edge in cheerful crayon drawings.",

    "In hind sight, perhaps Dorvel did you a favor.  A month later, the news revealed that the "
    "amazing shoes from television were a complete fraud.  Their lights gave people blisters, "
    "their squeaks frightened dogs for miles around, and anyone who wore them for more than an "
    "hour began to walk in circles.",

    "So things turned out for the best, after all.  You kept your money, your feet, and your "
    "sense of direction.  Whenever a day gets hard, you still think of Dorvel's parting words, "
    "and they never fail to inspire you.  \"Zibber on, noble plonkwhistle!\"  Game over.",
};

}  // namespace tw
