object DataModule1: TDataModule1
  OldCreateOrder = False
  Height = 150
  Width = 215
  object Selector: TModeSelector [0]
    Mode = cmGreen
    Modes = [cmRed, cmGreen]
    Zoom = 1.5
    Ratio = 0.25s
    Scale = -2.75
    Price = 12.5c
    Created = 45000.5d
    Items.Strings = (
      'first'
      'second')
    Owner = nil
  end
end
