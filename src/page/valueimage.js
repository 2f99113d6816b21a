// A blob's bytes in the value panel: shown as an image when they are a
// PNG, JPEG, GIF or WebP file (a corrupt one stays as hex).

var IMAGE_MAGIC = [
  {type: 'image/png', hex: /^89504e470d0a1a0a/},
  {type: 'image/jpeg', hex: /^ffd8ff/},
  {type: 'image/gif', hex: /^474946383[79]61/},
  {type: 'image/webp', hex: /^52494646[0-9a-f]{8}57454250/},
];

/// The bytes of hex text, or null when it is not whole hex.
function hexBytes(hex) {
  if (hex.length % 2 || !/^[0-9a-f]*$/i.test(hex)) return null;
  var bytes = new Uint8Array(hex.length / 2);
  for (var i = 0; i < bytes.length; i++) bytes[i] = parseInt(hex.substr(i * 2, 2), 16);
  return bytes;
}

/// The whole bytes of the blob `value`, or null when its hex is a preview.
function wholeBlob(value) {
  var hex = text(value.hex);
  return hex.length === value.blob_bytes * 2 ? hexBytes(hex) : null;
}

/// The image type whose magic bytes `bytes` begin with ({type, hex}), or
/// undefined.
function imageKind(bytes) {
  var head = Array.from(bytes.subarray(0, 16), function(b) { return (b < 16 ? '0' : '') + b.toString(16); }).join('');
  return IMAGE_MAGIC.find(function(m) { return m.hex.test(head); });
}

/// An image of the blob `bytes` put before `hexBlock`, which it hides while
/// it shows; a file the browser cannot draw leaves the hex in view.
function blobImage(bytes, hexBlock) {
  var kind = imageKind(bytes);
  if (!kind || !hexBlock.parentNode) return;
  var shown = hexBlock.parentNode.querySelector('.blobimage');
  if (shown) shown.remove();
  var url = URL.createObjectURL(new Blob([bytes], {type: kind.type}));
  var image = make('img', 'blobimage');
  image.alt = 'image, ' + kind.type.slice(6) + ', ' + plural(bytes.length, 'byte');
  image.addEventListener('error', function() {
    image.remove();
    hexBlock.hidden = false;
  });
  image.setAttribute('src', url);
  hexBlock.hidden = true;
  hexBlock.parentNode.insertBefore(image, hexBlock);
}
