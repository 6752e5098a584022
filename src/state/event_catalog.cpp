// The authored content: the 21 Events of a recruit's days, with their Options, Effects and outcomes.
#include "state/event_catalog.h"

#include <utility>

std::vector<Event> eventCatalog;

void buildEventCatalog() {
    // Effects are pairs of condition index and delta, applied in the order written:
    // 0 Health, 1 Sanity, 2 Reputation, 3 Punchability.
    // Each Option keeps its label and Effects on one line, as in the table: not reflowed.
    // clang-format off
    const Event authored[] = {
        {"You Encounter A Rack",
         {
             {" Make Your rack", {1, -15, 3, -10, 2, 5},
              "\"This is the worst rack I've ever seen\"\nWell at least you tried"},
             {" Jump off 3rd Deck", {1, 25, 0, -15},
              "You land in the bushes. It hurt, but for one glorious second you were free"},
             {" Roll on the floor like an eel", {1, 30, 3, 15},
              "You Look Really Stupid"},
         }},
        {"Today you have your annual Physical Fitness Test",
         {
             {" Be a Tryhard", {1, -20, 3, -10, 2, 10},
              "You max out the run and nearly cough up a lung at the finish line\n"
              "The Senior DI nods at you. You'll be replaying that nod for weeks"},
             {" Shitbag the run", {1, 10, 3, 10, 2, -5},
              "You jog across the finish line with the stragglers, barely out of breath"},
             {" Try to hide in the bushes and cheat your time", {1, 20, 3, 20, 2, -15},
              "You crouch in the bushes and rejoin the run on the last lap, fresh as a daisy\n"
              "Your time is a new record. Nobody believes it, least of all the DIs"},
         }},
        {"You arrive at the chowhall",
         {
             {" I gotta pick the healthy options", {1, -10, 0, 10},
              "You load your tray with steamed vegetables and a sad piece of boiled chicken\n"
              "Your body thanks you. Your taste buds file a formal complaint"},
             {" I'm gonna eat 16 peanut butter packets", {1, 10, 0, -5, 2, -10},
              "You stack sixteen peanut butter packets on your tray and eat every one\n"
              "\"What is wrong with you?\" whispers the recruit next to you"},
             {" I earned desert", {1, 20, 3, 10, 0, -15},
              "You grab two slices of cake and the biggest brownie on the line\n"
              "\"Enjoying yourself, recruit?\" A DI watches you eat every bite"},
         }},
        {"You encounter a Rogue DI",
         {
             {" Greet the DI", {1, -10, 3, -10, 2, 10},
              "You lock your body and sound off with the proper greeting of the day\n"
              "The DI looks almost disappointed there's nothing to correct"},
             {" Turn The other direction to avoid them", {1, 10, 3, 10, 2, -10},
              "You spin on your heel and walk the long way around the building\n"
              "\"Where do you think you're going, recruit?\" echoes across the grinder"},
             {" Continue Walking and Ignore the DI", {0, -25, 3, 30, 2, -20},
              "Seriously, what did you expect to happen?\n"},
         }},
        {"It's Sunday",
         {
             {" Talk to the chapplain", {1, 20, 3, 20},
              "The chaplain listens patiently while you vent about everything for an hour\n"
              "You feel great, until the DIs ask why you were gone so long"},
             {" Go to church", {1, 10},
              "You sit in a quiet pew for an hour and nobody yells at you\n"
              "It might be the most peaceful hour of your entire life"},
             {" I'm an atheist", {1, -10, 0, -10, 2, 5},
              "Some idiot in the barracks decided to take a nap\n"
              "Next thing you know you're pushing towels across the deck\n"},
         }},
        {"Your company is preparing for a ruck with ammo cans",
         {
             {" Make the most of it", {1, -10, 2, 10, 3, -5},
              "You shoulder the ammo can and grind out every mile without a word\n"
              "Your shoulders are wrecked, but your squad has noticed"},
             {" I have a boo boo", {1, 10, 2, -15, 3, -10},
              "You show the corpsman a blister the size of a grain of rice\n"
              "You ride in the truck while your squad marches past you"},
             {" Empty Your ammo can before putting it in your pack", {1, 15, 0, -10, 2, -5},
              "The DIs start getting suspicous when you aren't sweating halfway through the run\n"
              "\"Don't worry I'll get mine\"\n"
              "They did indeed get theirs"},
         }},
        {"It's time for a haircut, again",
         {
             {" Let the barber do his job", {1, -5, 2, 5},
              "Thirty seconds and a buzz later, you look like everyone else in the platoon\n"
              "That's kind of the whole point"},
             {" Ask for a fade", {1, -10, 2, -10, 3, 10},
              "\"A fade? Sure thing,\" says the barber, and shaves your head to the skin\n"
              "The DIs heard you ask, and they will not let it go"},
             {" Refuse the haircut", {1, -20, 3, 20, 2, -20},
              "You tell the barber you'd rather keep your hair today\n"
              "You get the haircut anyway, then spend the afternoon in the sandpit"},
         }},
        {"The DIs are conducting a barracks inspection",
         {
             {" Clean everything like a maniac", {1, -20, 3, -15, 2, 10},
              "You scrub the deck with a toothbrush until your knuckles are raw\n"
              "The inspection finds nothing, and you never want to see a toothbrush again"},
             {" Hide under your rack", {1, 15, 2, -20, 3, 20},
              "You slide under your rack and hold your breath while boots walk past\n"
              "Your rack mate gets smoked for your absence and will not forget it"},
             {" Sabotage someone else's rack", {1, 5, 2, -25, 3, 30},
              "You untuck a corner of the next rack over while nobody is looking\n"
              "Somebody was looking. Now the whole squad bay wants a word with you"},
         }},
        {"You've been assigned firewatch for the night",
         {
             {" Stay awake and alert", {1, -10, 0, -5, 2, 10},
              "You walk the squad bay all night and log every hour on the dot\n"
              "You're wrecked at reveille, but the Senior DI reads a perfect log"},
             {" Sneak in a nap", {1, 20, 2, -20, 3, 15},
              "You sit down for a second and wake up to a flashlight in your face\n"
              "The best nap of your life, followed by the worst wake-up"},
             {" Swap with another recruit", {1, 10, 2, -15, 3, 5},
              "You talk another recruit into taking your shift for a pack of gum\n"
              "You sleep soundly, and he tells everyone about it in the morning"},
         }},
        {"It's time to eat an MRE",
         {
             {" Choose Chili Mac", {1, 10, 0, 5},
              "You tear open the Chili Mac like it's a birthday present\n"
              "Best thing you've eaten in weeks, which says a lot about the weeks"},
             {" Choose the mystery meal", {1, -5, 0, -10, 2, 5},
              "You eat the mystery meal without complaint. It does not agree with you\n"
              "Your squad is impressed you kept it down"},
             {" Trade your MRE for something better", {1, 15, 0, 10, 2, -5},
              "You trade your veggie omelet and a pound cake for a beef stew\n"
              "Great meal, but the other recruit is telling everyone you hustled him"},
         }},
        {"It's time for rifle qualification at the range",
         {
             {" Focus on your marksmanship", {1, -10, 2, 15},
              "You control your breathing and squeeze every shot like they taught you\n"
              "You shoot expert, and the range coach actually says good job"},
             {" Rush through the drills", {1, 10, 2, -10, 3, 10},
              "You blast through your rounds and finish before anyone else on the line\n"
              "Half your shots hit the berm, and the DIs saw every one of them"},
             {" Fake a malfunction", {1, 5, 2, -20, 3, 20},
              "You raise your hand and announce a malfunction on a perfectly good rifle\n"
              "The armorer clears it in two seconds while the whole line watches"},
         }},
        {"It's time to do your laundry",
         {
             {" Do your laundry properly", {1, -10, 2, 10},
              "You sort, wash, dry and fold every piece exactly by the book\n"
              "It takes forever, but your drawer could pass any inspection"},
             {" Forget your clothes in the dryer", {1, -5, 3, 10, 2, -10},
              "You leave your clothes in the dryer and remember three hours later\n"
              "A DI found them first, and now they're spread across the quarterdeck"},
             {" Let someone else handle it", {1, 15, 2, -15, 3, 5},
              "You hand your bag to your bunkmate and go shine your boots instead\n"
              "Your socks come back damp and your bunkmate is keeping score"},
         }},
        {"Night fire training has begun",
         {
             {" Stay focused and follow the drills", {1, -10, 0, -5, 2, 10},
              "You shiver through every relay but keep your rounds on target\n"
              "The cold gets into your bones, but the range staff take note"},
             {" Complain about the cold", {1, 15, 2, -20, 3, 10},
              "You tell everyone within earshot how cold it is, repeatedly\n"
              "It feels good to vent, but nobody on the line wants to hear it"},
             {" Take a nap between drills", {1, 20, 0, -10, 2, -10},
              "You curl up on the frozen ground and doze off between relays\n"
              "You wake up rested, numb, and the subject of a lot of whispering"},
         }},
        {"Time for the obstacle course",
         {
             {" Go all out", {1, -20, 0, -10, 2, 20},
              "You throw yourself over every wall and up every rope without slowing down\n"
              "You're scraped and bruised, but the platoon cheers you across the finish"},
             {" Half-ass it", {1, 10, 0, 5, 2, -10},
              "You take the obstacles at a leisurely pace and skip the rope climb\n"
              "You feel fine, but your squad had to wait on you at the end"},
             {" Pretend to be injured", {1, 15, 2, -25, 3, 25},
              "You grab your ankle at the first wall and limp dramatically off the course\n"
              "The corpsman finds nothing wrong, and now the DIs are very interested in you"},
         }},
        {"Mail call has arrived",
         {
             {" Receive a letter from home", {1, 25, 3, -10},
              "Your family writes that the dog misses you and your mom is proud of you\n"
              "You read it twice and stand a little taller for the rest of the day"},
             {" No mail for you", {1, -15, 3, 10},
              "Everyone around you tears open letters while your name never gets called\n"
              "You sulk a little too visibly, and a DI notices"},
             {" Write a letter instead", {1, 10, 3, -5},
              "You spend your free time writing home about how much you miss real food\n"
              "It calms you down, and you keep your head low for the evening"},
         }},
        {"You don't feel great. Time to decide whether to go to sick call",
         {
             {" Tough it out", {1, -5, 0, -10, 2, 10},
              "You swallow your cough and push through the day's training\n"
              "You feel worse by taps, but nobody can say you quit"},
             {" Go to sick call", {1, 15, 0, 20, 2, -10},
              "The corpsman gives you some pills and a day of light duty\n"
              "You feel much better, but the platoon trained without you"},
             {" Fake an illness", {1, 20, 0, -5, 2, -20, 3, 20},
              "You spend the day at sick call and catch a real cold from the guy next to you\n"
              "The DIs know exactly what you did, and they have plans for you"},
         }},
        {"Time for drill practice",
         {
             {" Put in full effort", {1, -10, 2, 15},
              "You snap every movement and hit every pivot in perfect step\n"
              "The Senior DI says the platoon looked almost human today"},
             {" Slack off and hope no one notices", {1, 10, 2, -15, 3, 10},
              "You coast along half a step behind and hope the DIs are looking elsewhere\n"
              "They were not looking elsewhere"},
             {" Sabotage another recruit", {1, 5, 2, -25, 3, 20},
              "You step on the heel of the recruit in front of you during a column movement\n"
              "He goes down, the formation falls apart, and everyone knows it was you"},
         }},
        {"Gear inspection is happening soon",
         {
             {" Make sure your gear is spotless", {1, -15, 2, 10},
              "You spend half the night scrubbing your canteen and oiling your rifle\n"
              "Your gear gleams at inspection and the DI moves on without a word"},
             {" Hide your dirty gear", {1, 10, 2, -20, 3, 15},
              "You stuff your dirty gear into the bottom of your footlocker\n"
              "The DI digs straight to the bottom, like he knew it would be there"},
             {" Blame another recruit for your dirty gear", {1, 5, 2, -25, 3, 20},
              "You point at the recruit next to you and say the gear is his\n"
              "It has your name stenciled on it, and the whole squad bay heard you"},
         }},
        {"It's time to pass the water survival test",
         {
             {" Tread water for the full time", {1, -10, 0, -10, 2, 15},
              "You tread water until your legs burn and your lungs are half full of pool\n"
              "You pass, and the instructors mark you down as a strong swimmer"},
             {" Fake an injury and get out early", {1, 15, 0, 5, 2, -20},
              "You clutch your leg and get pulled out of the pool early\n"
              "You're dry and comfortable, and nobody believes a word of it"},
             {" Try to blend into the crowd and avoid the test", {1, 5, 2, -25, 3, 20},
              "You hide at the back of the line and hope your name gets skipped\n"
              "The instructor calls you by name, and you take the test with an audience"},
         }},
        {"Hygiene inspection has begun",
         {
             {" Follow hygiene protocol", {1, -10, 2, 10},
              "You shave, trim your nails and scrub behind your ears like mom taught you\n"
              "The DI inspects you closely and finds nothing to yell about"},
             {" Skip a few steps", {1, 10, 2, -10, 3, 5},
              "You skip the shave and hope nobody looks too closely\n"
              "The DI looks closely"},
             {" Lie and say you forgot your supplies", {1, 5, 2, -20, 3, 15},
              "You tell the DI you forgot your razor and toothbrush at home\n"
              "He points at the razor and toothbrush sitting on your rack"},
         }},
        {"A teamwork exercise has started",
         {
             {" Work with your team", {1, -5, 2, 15},
              "You listen, pull your weight and help carry the log across the finish\n"
              "Your team wins, and for once nobody gets yelled at"},
             {" Let others do the work", {1, 10, 2, -15, 3, 10},
              "You hold one corner of the stretcher and let everyone else do the lifting\n"
              "Your team finishes, but they won't be picking you again"},
             {" Sabotage the exercise", {1, 5, 2, -25, 3, 25},
              "You quietly untie the rope halfway through the bridge-building exercise\n"
              "The whole team ends up in the mud, and all of them know it was you"},
         }},
    };
    // clang-format on

    // Each Event starts from its prompt; its Options are added complete, then the Event is appended.
    for (const Event& entry : authored) {
        Event event{entry.prompt, {}};
        for (const Option& authoredOption : entry.options) {
            Option option = authoredOption;
            event.options.push_back(std::move(option));
        }
        eventCatalog.push_back(event);
    }
}
