// The conditions panel in the text view: each condition's text line as the terminal shows it, and
// a meter of its value coloured by how close it is to the value that ends the run (the browser's
// meter colours: good, then not so good within half the range of that end, bad within a quarter).

const gauges = document.getElementById('gauges');
const gaugesTitle = document.getElementById('gauges-title');
const gaugeList = document.getElementById('gauge-list');

function gaugeItem(i) {
  let item = gaugeList.children[i];
  if (!item) {
    item = document.createElement('li');
    const label = document.createElement('label');
    const meter = document.createElement('meter');
    meter.id = label.htmlFor = `gauge-${i}`;
    meter.min = 0;
    item.append(label, meter);
    gaugeList.append(item);
  }
  return item;
}

// found: each condition's text line and the value it reads, in the panel's order. The layout
// tells the largest value and, bit i of gaugesEndingHigh, which conditions end the run at it
// rather than at 0.
export function showGauges(title, found, layout) {
  gauges.hidden = found.length === 0;
  gaugesTitle.textContent = title;
  while (gaugeList.children.length > found.length) gaugeList.lastChild.remove();
  const max = layout.gaugeMax;
  found.forEach((gauge, i) => {
    const item = gaugeItem(i);
    const [label, meter] = item.children;
    if (label.textContent !== gauge.text) label.textContent = gauge.text;
    const endsHigh = ((layout.gaugesEndingHigh >> i) & 1) === 1;
    meter.max = max;
    meter.low = endsHigh ? max / 2 : max / 4;
    meter.high = endsHigh ? (max * 3) / 4 : max / 2;
    meter.optimum = endsHigh ? 0 : max;
    meter.value = gauge.value;
    meter.textContent = String(gauge.value);
  });
}
